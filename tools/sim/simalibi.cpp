#include "simalibi.h"

#include <QCommandLineParser>
#include <QDate>
#include <QTime>

const QByteArray SimAlibi::Header = "REC_ID;DATE;TIME;NUM;USER_ID;PROD_ID;NET;GROSS;TARE;UNIT;POINT;STB";
const QByteArray SimAlibi::EndMarker = "Malibiend\r\n";

void SimAlibi::addOptions(QCommandLineParser& parser)
{
    parser.addOptions({
        {QStringLiteral("alibi"), QStringLiteral("Records in the alibi memory."), QStringLiteral("N"),
         QStringLiteral("0")},
        {QStringLiteral("alibi-announce"), QStringLiteral("Announce TEXT as the record count."),
         QStringLiteral("TEXT")},
        {QStringLiteral("alibi-broken"),
         QStringLiteral("Send record I with a field missing the first T times."), QStringLiteral("I:T")},
        {QStringLiteral("alibi-no-marker"), QStringLiteral("Never send the last-record marker.")},
        {QStringLiteral("alibi-garble"),
         QStringLiteral("Probability 0..1 that a record goes out with a field altered out of its form "
                        "(drawn with --seed)."),
         QStringLiteral("P"), QStringLiteral("0")},
        {QStringLiteral("alibi-garbled"),
         QStringLiteral("Send records I,J,... with a field altered out of its form the first time."),
         QStringLiteral("I,J,...")},
        {QStringLiteral("alibi-product"), QStringLiteral("Give every record the product TEXT (UTF-8)."),
         QStringLiteral("TEXT")},
    });
}

bool SimAlibi::configure(const QCommandLineParser& parser, QString* error)
{
    bool ok = false;
    setCount(parser.value(QStringLiteral("alibi")).toInt(&ok));
    if (!ok) {
        *error = QStringLiteral("--alibi: expected a whole number");
        return false;
    }
    const QString announcement = parser.value(QStringLiteral("alibi-announce"));
    if (announcement.contains(QLatin1Char('\r')) || announcement.contains(QLatin1Char('\n'))) {
        *error = QStringLiteral("--alibi-announce: must be one line");
        return false;
    }
    setAnnouncement(announcement.toUtf8());
    if (parser.isSet(QStringLiteral("alibi-broken"))) {
        const QStringList parts = parser.value(QStringLiteral("alibi-broken")).split(QLatin1Char(':'));
        bool recordOk = false;
        bool timesOk = false;
        if (parts.size() != 2) {
            *error = QStringLiteral("--alibi-broken: expected I:T");
            return false;
        }
        setBroken(parts.at(0).toInt(&recordOk), parts.at(1).toInt(&timesOk));
        if (!recordOk || !timesOk) {
            *error = QStringLiteral("--alibi-broken: expected I:T");
            return false;
        }
    }
    setEndMarker(!parser.isSet(QStringLiteral("alibi-no-marker")));
    const double share = parser.value(QStringLiteral("alibi-garble")).toDouble(&ok);
    if (!ok || share < 0 || share > 1) {
        *error = QStringLiteral("--alibi-garble: expected a probability from 0 to 1");
        return false;
    }
    QSet<int> records;
    if (parser.isSet(QStringLiteral("alibi-garbled"))) {
        for (const QString& item : parser.value(QStringLiteral("alibi-garbled")).split(QLatin1Char(','))) {
            records.insert(item.toInt(&ok));
            if (!ok) {
                *error = QStringLiteral("--alibi-garbled: expected record numbers separated by ','");
                return false;
            }
        }
    }
    // Its own stream, so that garbling records leaves the other faults drawn as before.
    setGarbled(share, parser.value(QStringLiteral("seed")).toUInt() ^ 0xa11b1u, records);
    m_product = parser.value(QStringLiteral("alibi-product")).toUtf8();
    return true;
}

void SimAlibi::setGarbled(double share, quint32 seed, const QSet<int>& records)
{
    m_garbleShare = share;
    m_garbleRandom.seed(seed);
    m_garbledRecords = records;
}

QByteArray SimAlibi::garbled(const QByteArray& line, int variant)
{
    QList<QByteArray> fields = line.split(';');
    QByteArray& field = fields[variant % fields.size()];
    int at = 0;
    while (at < field.size() - 1 && field.at(at) == ' ') {
        ++at;
    }
    // After the first character the field shows, so that the terminator stays where it is.
    field.insert(at + 1, '!');
    return fields.join(';');
}

void SimAlibi::setBroken(int record, int times)
{
    m_brokenRecord = record;
    m_brokenTimes = times;
}

QByteArray SimAlibi::record(int i) const
{
    const QDate date = QDate(2024, 1, 1).addDays(i - 1);
    const QTime time = QTime(8, 0).addSecs(61 * i);
    const double tare = 0.5;
    const double net = 0.125 * i;
    QByteArray line = QByteArray::number(i) + ';' + date.toString(Qt::ISODate).toLatin1() + ';' +
                      time.toString(QStringLiteral("hh:mm:ss")).toLatin1() + ';' +
                      QByteArray::number(1000 + i) + ";U" + QByteArray::number(i % 7) + ';' +
                      (m_product.isEmpty() ? 'P' + QByteArray::number(i % 5) : m_product) + ';' +
                      QByteArray::number(net, 'f', 3) + ';' + QByteArray::number(net + tare, 'f', 3) + ';' +
                      QByteArray::number(tare, 'f', 3) + ";  g ;3;" + (i % 3 == 0 ? "0" : "1") + "\r\n";
    return line;
}

QByteArray SimAlibi::handle(const QByteArray& body)
{
    if (body == "Salibiprn") {
        m_next = 1;
        m_current = 0;
        const QByteArray count = QByteArray::number(m_count);
        return "RECORDS:" + (m_announcement.isEmpty() ? count : m_announcement) + "\r\n" + Header +
               "\r\nFIRST:" + (m_count > 0 ? "1" : "0") + "\r\nLAST:" + count + "\r\nMalibiprn\r\n";
    }
    if (body == "Salibinext") {
        if (m_next > m_count) {
            return pastTheEnd();
        }
        m_current = m_next++;
        return recordAnswer(m_current);
    }
    if (body == "Salibirep") {
        return m_current == 0 ? pastTheEnd() : recordAnswer(m_current);
    }
    if (body == "Salibistop") {
        m_next = 1;
        m_current = 0;
        return "Malibistop\r\n";
    }
    return QByteArray();
}

QByteArray SimAlibi::recordAnswer(int i)
{
    const int sent = ++m_sent[i];
    QByteArray answer = record(i);
    if (i == m_brokenRecord && sent <= m_brokenTimes) {
        answer.truncate(answer.lastIndexOf(';'));
        answer += "\r\n";
    } else if ((sent == 1 && m_garbledRecords.contains(i)) ||
               (m_garbleShare > 0 && m_garbleRandom.generateDouble() < m_garbleShare)) {
        answer = garbled(answer, i + sent);
    }
    if (i == m_count && m_endMarker) {
        // On the record's own line, so that the marker cannot arrive after the reader has taken its line.
        answer.insert(answer.size() - 2, EndMarker.left(EndMarker.size() - 2));
    }
    return answer;
}

QByteArray SimAlibi::pastTheEnd() const
{
    // Without the marker the instrument has nothing to say.
    return m_endMarker ? EndMarker : QByteArray();
}
