// Firmware upload of the three-letter dialect: the loader takes the file as raw bytes in numbered
// 1024-byte blocks, each acknowledged by one ACK.
#include "device/cdevicekx40.h"

#include "interface/cinterface.h"
#include "platform/logcategories.h"

#include <QElapsedTimer>
#include <QFile>

namespace {
constexpr char Stx = 0x02;
constexpr char Eot = 0x04;
constexpr char Ack = 0x06;
constexpr char Ready = 'C';
// The loader's name for every image, whatever the file is called.
const QByteArray ImageName = QByteArrayLiteral("kx40.hex");
} // namespace

QByteArray CDeviceKx40::block(int number, const QByteArray& payload)
{
    const auto n = quint8(number & 0xff);
    QByteArray bytes;
    bytes.reserve(BlockSize);
    bytes += Stx;
    bytes += char(n);
    bytes += char(0xff - n);
    bytes += payload.left(BlockPayload);
    bytes.append(BlockPayload - qMin(payload.size(), BlockPayload), '\0');
    // Fixed bytes where a CRC would stand: the loader does not check one.
    bytes += char(0x01);
    bytes += char(0x02);
    return bytes;
}

bool CDeviceKx40::sendBlock(const QByteArray& bytes, int timeoutMs)
{
    for (int transmission = 0; transmission < BlockTransmissions; ++transmission) {
        if (!m_interface || state() == STATE_DISCONNECTED || state() == STATE_DISCONNECTING) {
            return false;
        }
        QElapsedTimer clock;
        clock.start();
        m_interface->clear();
        sendBytes(bytes);
        for (int read = 0; read < BlockReads; ++read) {
            const qint64 left = timeoutMs - clock.elapsed();
            if (left < 0) {
                return false;
            }
            // A block never waits beyond its time-out; the last block (time-out 0) has one look.
            const int waitMs =
                timeoutMs > 0 ? int(qBound<qint64>(1, left, BlockReadWaitMs)) : BlockReadWaitMs;
            QByteArray answer;
            if (waitForResponseBytes(answer, waitMs) && answer.right(3).contains(Ack)) {
                return true;
            }
        }
    }
    return false;
}

bool CDeviceKx40::waitForLoader()
{
    QByteArray bytes;
    // What follows the start command's answer may be the rest of it, which is passed over; the loader's
    // first prompt, heard alone, is taken at once: waiting for the next one would cost its whole interval.
    if (waitForResponseBytes(bytes, LoaderReadyWaitMs) && !bytes.isEmpty() &&
        bytes.count(Ready) == bytes.size()) {
        return true;
    }
    for (int wait = 0; wait < LoaderReadyWaits; ++wait) {
        bytes.clear();
        if (waitForResponseBytes(bytes, LoaderReadyWaitMs) && bytes.contains(Ready)) {
            return true;
        }
    }
    return false;
}

bool CDeviceKx40::sendNewFirmware(QString new_firmware_path)
{
    if (!threadGuard("sendNewFirmware", Q_ARG(QString, new_firmware_path)) ||
        !canSendNextCommand(COMMAND_START_DOWNLOADING, "sendNewFirmware",
                            Q_ARG(QString, new_firmware_path))) {
        return false;
    }
    m_currentCommand = COMMAND_START_DOWNLOADING;

    // The whole file is read before the instrument leaves its program: a file that cannot be sent
    // must not leave it waiting in its loader.
    QFile file(new_firmware_path);
    QByteArray image;
    QString refusal;
    if (!file.open(QIODevice::ReadOnly)) {
        refusal = QStringLiteral("Failed to open ") + new_firmware_path;
    } else if (file.size() > MaxFirmwareFileSize) {
        refusal = new_firmware_path + QStringLiteral(" is too large for a firmware image");
    } else {
        image = file.readAll();
        if (image.isEmpty()) {
            refusal = new_firmware_path + QStringLiteral(" is empty or unreadable");
        }
    }
    file.close();
    if (!refusal.isEmpty()) {
        qCWarning(lcDevice) << refusal;
        emit sendingFirmwareFinished(0);
        return false;
    }

    setBusy(true);
    QString answer;
    const int started = sendAndRead(QStringLiteral("ZFI\r\n"), &answer, LoaderStartLines + (m_echo ? 1 : 0),
                                    ExchangeTimeoutMs, ExchangeAttempts);
    // From here on the loader's bytes are no lines: nothing received is dispatched, and nothing of
    // the image or its acknowledgements reaches the log.
    disconnectReceiver();
    setLogWriting(false);

    // Every way out of the upload passes here with the reason it failed, or none.
    const auto failure = [&]() -> QString {
        if (started == COMMAND_FAILED || !answer.contains(QLatin1String("Czekam na plik"))) {
            return QStringLiteral("the command that starts the firmware update could not be sent");
        }
        if (!waitForLoader()) {
            return QStringLiteral("the loader did not answer with 'C'");
        }
        if (!sendBlock(block(0, ImageName), BlockTimeoutMs)) {
            return QStringLiteral("the first block could not be sent");
        }
        int n = 0;
        for (int position = 0; position < image.size(); position += BlockPayload) {
            ++n;
            if (!sendBlock(block(n, image.mid(position, BlockPayload)), BlockTimeoutMs)) {
                return QStringLiteral("block number %1 could not be sent").arg(n);
            }
            const qint64 sent = qMin(position + BlockPayload, image.size());
            emit sendingFirmwareProgress(int(sent * 100 / image.size()));
        }
        if (!sendBlock(QByteArray(1, Eot), BlockTimeoutMs)) {
            return QStringLiteral("EOT could not be sent");
        }
        // The closing block ends the batch; whether it is acknowledged changes nothing.
        sendBlock(block(0, QByteArray()), 0);
        return QString();
    }();

    if (!failure.isEmpty()) {
        qCWarning(lcDevice) << failure;
    }
    connectReceiver();
    setLogWriting(true);
    setBusy(false);
    emit sendingFirmwareFinished(failure.isEmpty() ? 1 : 0);
    return failure.isEmpty();
}
