// Firmware upload in the line dialect: the bootloader takes the S-record file line by line.
#include "device/cdevice.h"

#include "device/srecordfile.h"
#include "log/cpelmlog.h"
#include "platform/logcategories.h"
#include "platform/queuedcall.h"

#include <QFile>
#include <QThread>

void CDevice::setLogWriting(bool on)
{
    CPelmLog* log = CPelmLog::instance();
    if (!log) {
        return;
    }
    // From another thread, records reach the log queued; a direct switch would drop lines sent before
    // the upload and store lines of the image still in the queue.
    callInThreadOf(log, [log, on] { log->setEnabled(on); });
}

bool CDevice::sendNewFirmware(QString new_firmware_path)
{
    if (!threadGuard("sendNewFirmware", Q_ARG(QString, new_firmware_path)) ||
        !canSendNextCommand(COMMAND_SEND_FIRMWARE, "sendNewFirmware", Q_ARG(QString, new_firmware_path))) {
        return false;
    }
    m_currentCommand = COMMAND_SEND_FIRMWARE;
    setBusy(true);
    const QString untouched = QStringLiteral("Nothing was sent: the instrument runs its program as before.");
    const auto refuse = [this](const QString& reason) {
        qCWarning(lcDevice) << reason;
        setBusy(false);
        emit sendingFirmwareFailed(reason);
        emit sendingFirmwareFinished(0);
        return false;
    };

    QFile file(new_firmware_path);
    if (!file.open(QIODevice::ReadOnly)) {
        return refuse(QStringLiteral("Failed to open %1: %2. ").arg(new_firmware_path, file.errorString()) +
                      untouched);
    }
    if (file.size() > MaxFirmwareFileSize) {
        return refuse(QStringLiteral("%1 is too large for a firmware image (%2 bytes). ")
                          .arg(new_firmware_path)
                          .arg(file.size()) +
                      untouched);
    }
    const QByteArray content = file.readAll();
    file.close();
    // The whole file is checked before the instrument leaves its program: a bad line found later
    // would leave it in the bootloader.
    SRecordFile image;
    if (!image.parse(content)) {
        return refuse(QStringLiteral("%1 line %2: %3. ")
                          .arg(new_firmware_path)
                          .arg(image.errorLine())
                          .arg(image.error()) +
                      untouched);
    }

    const int started = sendAndExpect(QStringLiteral("Sfirmwupd\r\n"), QStringLiteral("Mfirmwupd\r\n"), 1,
                                      FirmwareStartTimeoutMs, FirmwareStartAttempts);
    if (started != COMMAND_OK) {
        qCWarning(lcDevice) << "Failed to initialize bootloader";
        refuse((started == COMMAND_TIMEOUT
                    ? QStringLiteral("The instrument did not answer the request for its bootloader")
                    : QStringLiteral("The instrument answered the request for its bootloader with another "
                                     "text")) +
               QStringLiteral(" (\"Mfirmwupd\" expected). No line of the image was sent."));
        checkCommunication(started);
        return false;
    }
    qCDebug(lcDevice) << "Bootloader initialised";
    emit sendingFirmwareProgress(1);

    const int baudRate = this->baudRate();
    if (baudRate > 0) {
        setBaudRate(FirmwareBaudRate);
    }
    // The bootloader switches its own line speed meanwhile; any wait that ran events here could
    // start another command in the middle of the upload.
    QThread::msleep(FirmwareBaudSettleMs);
    qCDebug(lcDevice) << "bytes counted:" << content.size() << "file size: " << content.size();

    setLogWriting(false);
    const auto finish = [this, baudRate](const QString& reason) {
        if (baudRate > 0) {
            setBaudRate(baudRate);
        }
        setBusy(false);
        setLogWriting(true);
        if (!reason.isEmpty()) {
            qCWarning(lcDevice) << reason;
            emit sendingFirmwareFailed(reason);
        }
        emit sendingFirmwareFinished(reason.isEmpty() ? 1 : 0);
        return reason.isEmpty();
    };
    const QByteArrayList& lines = image.lines();
    const int count = lines.size();
    int reported = -1;
    QString answer;
    for (int n = 1; n <= count; ++n) {
        const int percent = int(qint64(n) * 100 / count);
        if (percent != reported) {
            reported = percent;
            emit sendingFirmwareProgress(percent + 1);
        }
        const int result = sendAndRead(QString::fromLatin1(lines.at(n - 1)), &answer, 1,
                                       FirmwareLineTimeoutMs, FirmwareLineAttempts);
        if (result != COMMAND_OK) {
            // Nothing after an unanswered line: the bootloader takes the image only in its order.
            qCWarning(lcDevice) << "line nr" << n << "FAILED!";
            if (linkDown()) {
                return finish(
                    QStringLiteral("The connection was lost at line %1 of %2. The instrument may be "
                                   "left in its bootloader: connect it and send the file again.")
                        .arg(n)
                        .arg(count));
            }
            return finish(QStringLiteral("Line %1 of %2 was not acknowledged: the bootloader's answer was "
                                         "expected within %3 s and did not come. The instrument is still in "
                                         "its bootloader: send the file again.")
                              .arg(n)
                              .arg(count)
                              .arg(FirmwareLineAttempts * FirmwareLineTimeoutMs / 1000.0));
        }
        if (answer.contains(QLatin1String("f3"))) {
            qCDebug(lcDevice) << "line nr" << n << "RECEIVED F3 -> FINISH";
            return finish(QString());
        }
    }
    return finish(
        QStringLiteral("The bootloader did not report the end of the image after its last line "
                       "(%1 of %1; \"f3\" expected). The instrument may still be in its bootloader: "
                       "send the file again.")
            .arg(count));
}
