#include "simbootloader.h"

#include <QCommandLineParser>

void SimBootloader::addOptions(QCommandLineParser& parser)
{
    parser.addOptions({
        {QStringLiteral("boot-silent-at"), QStringLiteral("Bootloader: no answer from image line N on."),
         QStringLiteral("N")},
        {QStringLiteral("boot-no-f3"), QStringLiteral("Bootloader: never report the end of the image.")},
    });
}

bool SimBootloader::configure(const QCommandLineParser& parser, QString* error)
{
    if (parser.isSet(QStringLiteral("boot-silent-at"))) {
        bool ok = false;
        const int line = parser.value(QStringLiteral("boot-silent-at")).toInt(&ok);
        if (!ok || line < 1) {
            *error = QStringLiteral("--boot-silent-at: expected a line number from 1");
            return false;
        }
        setSilentFrom(line);
    }
    setNoFinish(parser.isSet(QStringLiteral("boot-no-f3")));
    return true;
}

QByteArray SimBootloader::start()
{
    m_active = true;
    m_lines = 0;
    m_bad = 0;
    return "Mfirmwupd\r\n";
}

QByteArray SimBootloader::handleLine(const QByteArray& line)
{
    ++m_lines;
    if (m_silentFrom > 0 && m_lines >= m_silentFrom) {
        return QByteArray();
    }
    QByteArray record = line;
    while (record.endsWith('\n') || record.endsWith('\r')) {
        record.chop(1);
    }
    if (!recordIsGood(record)) {
        ++m_bad;
        return "f0\r\n";
    }
    const char type = record.at(1);
    if ((type == '7' || type == '8' || type == '9') && !m_noFinish) {
        m_active = false;
        return "f3\r\n";
    }
    return "f1\r\n";
}

bool SimBootloader::recordIsGood(const QByteArray& record)
{
    if (record.size() < 10 || record.size() % 2 != 0 || record.at(0) != 'S') {
        return false;
    }
    const QByteArray bytes = QByteArray::fromHex(record.mid(2));
    // fromHex skips what is not hexadecimal, so a bad digit shows as a short result.
    if (bytes.size() * 2 != record.size() - 2 || record.mid(2).toUpper() != bytes.toHex().toUpper()) {
        return false;
    }
    if (quint8(bytes.at(0)) != bytes.size() - 1) {
        return false;
    }
    quint8 sum = 0;
    for (const char b : bytes) {
        sum += quint8(b);
    }
    // Count, address, data and checksum add up to FF.
    return sum == 0xff;
}
