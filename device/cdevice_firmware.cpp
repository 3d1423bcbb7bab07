// Firmware upload in the line dialect: the bootloader takes the S-record file line by line.
#include "device/cdevice.h"

#include "device/srecordfile.h"
#include "log/cpelmlog.h"
#include "platform/logcategories.h"

#include <QFile>
#include <QThread>

void CDevice::setLogWriting(bool on)
{
    CPelmLog* log = CPelmLog::instance();
    if (!log) {
        return;
    }
    if (log->thread() == QThread::currentThread()) {
        log->setEnabled(on);
        return;
    }
    // Records of this thread reach the log queued; a direct switch would drop lines sent before the
    // upload and store lines of the image still in the queue.
    QMetaObject::invokeMethod(
        log, [log, on] { log->setEnabled(on); }, Qt::QueuedConnection);
}

bool CDevice::sendNewFirmware(QString new_firmware_path)
{
    if (!threadGuard("sendNewFirmware", Q_ARG(QString, new_firmware_path)) ||
        !canSendNextCommand(COMMAND_SEND_FIRMWARE, "sendNewFirmware", Q_ARG(QString, new_firmware_path))) {
        return false;
    }
    m_currentCommand = COMMAND_SEND_FIRMWARE;
    setBusy(true);
    const auto refuse = [this] {
        setBusy(false);
        emit sendingFirmwareFinished(0);
        return false;
    };

    QFile file(new_firmware_path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcDevice) << "Failed to open" << new_firmware_path;
        return refuse();
    }
    if (file.size() > MaxFirmwareFileSize) {
        qCWarning(lcDevice) << new_firmware_path << "is too large for a firmware image:" << file.size();
        return refuse();
    }
    const QByteArray content = file.readAll();
    file.close();
    // The whole file is checked before the instrument leaves its program: a bad line found later
    // would leave it in the bootloader.
    SRecordFile image;
    if (!image.parse(content)) {
        qCWarning(lcDevice) << new_firmware_path << "line" << image.errorLine() << image.error();
        return refuse();
    }

    const int started = sendAndExpect(QStringLiteral("Sfirmwupd\r\n"), QStringLiteral("Mfirmwupd\r\n"), 1,
                                      FirmwareStartTimeoutMs, FirmwareStartAttempts);
    if (started != COMMAND_OK) {
        qCWarning(lcDevice) << "Failed to initialize bootloader";
        refuse();
        checkCommunication(started);
        return false;
    }
    qCDebug(lcDevice) << "Bootloader initized";
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
    const auto finish = [this, baudRate](bool done) {
        if (baudRate > 0) {
            setBaudRate(baudRate);
        }
        setBusy(false);
        setLogWriting(true);
        emit sendingFirmwareFinished(done ? 1 : 0);
        return done;
    };
    const QByteArrayList& lines = image.lines();
    int reported = -1;
    QString answer;
    for (int n = 1; n <= lines.size(); ++n) {
        const int percent = int(qint64(n) * 100 / lines.size());
        if (percent != reported) {
            reported = percent;
            emit sendingFirmwareProgress(percent + 1);
        }
        const int result = sendAndRead(QString::fromLatin1(lines.at(n - 1)), &answer, 1,
                                       FirmwareLineTimeoutMs, FirmwareLineAttempts);
        if (result != COMMAND_OK) {
            qCWarning(lcDevice) << "line nr" << n << "FAILED!";
            return finish(false);
        }
        if (answer.contains(QLatin1String("f3"))) {
            qCDebug(lcDevice) << "line nr" << n << "RECEIVED F3 -> FINISH";
            return finish(true);
        }
    }
    qCWarning(lcDevice) << "the bootloader did not report the end of the image";
    return finish(false);
}
