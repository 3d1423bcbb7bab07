#include "ui/firmwaredialog.h"
#include "ui_firmwaredialog.h"

#include "controller/cbalancecontroller.h"
#include "device/cdevice.h"
#include "platform/logcategories.h"
#include "ui/confirmationdialog.h"
#include "ui/icontint.h"
#include "ui/log/pelmfiledialog.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QStyle>

namespace {
// The file dialog matches names without regard to case, so images named .s19 are offered as well.
const char FirmwareFilter[] = "Firmware files (*.S19)";
} // namespace

FirmwareDialog::FirmwareDialog(QWidget* parent) : QDialog(parent), ui(new Ui::FirmwareDialog)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setModal(true);
    // Without this the style sheet background of a plain QWidget is not painted.
    ui->titleStrip->setAttribute(Qt::WA_StyledBackground, true);
    ui->titleIcon->setPixmap(IconTint::tinted(QIcon(QStringLiteral(":/Resources/firmware.svg")),
                                              ui->titleIcon->maximumSize(), Qt::white));

    fitHeight();

    // Nothing to upload until a file is chosen.
    ui->uploadButton->setEnabled(false);
    connect(ui->pickButton, &QPushButton::clicked, this, &FirmwareDialog::pickFile);
    connect(ui->uploadButton, &QPushButton::clicked, this, &FirmwareDialog::setFirmware);
    connect(ui->closeButton, &QPushButton::clicked, this, &FirmwareDialog::reject);

    CBalanceController* balance = CBalanceController::instance();
    connect(balance, &CBalanceController::sendingFirmwareProgress, this, &FirmwareDialog::onProgress);
    // Comes before the end it explains, which is queued: the reason is there when the end is shown.
    connect(balance, &CBalanceController::sendingFirmwareFailed, this, [this](const QString& reason) {
        if (m_uploading) {
            m_reason = reason;
        }
    });
    // Queued, so that the notice never runs inside the device's own exchange when both share a thread.
    connect(balance, &CBalanceController::sendingFirmwareFinished, this,
            &FirmwareDialog::sendingFirmwareFinished, Qt::QueuedConnection);
    // The controller stops forwarding the end when it turns to another device.
    connect(
        balance, &CControllerInterface::controllerSet, this,
        [this] {
            if (m_uploading && CControllerInterface::currentDevice() != m_device) {
                onDeviceLost();
            }
        },
        Qt::QueuedConnection);
}

FirmwareDialog::~FirmwareDialog()
{
    delete ui;
}

void FirmwareDialog::pickFile()
{
    PelmFileDialog dialog(QStringLiteral("firmwarePath"), this);
    const QString path = dialog.openFile(QLatin1String(FirmwareFilter));
    if (!path.isEmpty()) {
        setFile(path);
    }
}

void FirmwareDialog::setFile(const QString& path)
{
    m_path = path;
    ui->uploadButton->setEnabled(!path.isEmpty() && !m_uploading);
    ui->pathLabel->setText(path);
    ui->pathLabel->setProperty("empty", false);
    ui->pathLabel->style()->unpolish(ui->pathLabel);
    ui->pathLabel->style()->polish(ui->pathLabel);
    fitHeight();
}

void FirmwareDialog::fitHeight()
{
    // The wrapped texts need the height that goes with the dialog's width, which no size hint gives.
    ensurePolished();
    layout()->activate();
    resize(width(), qMax(minimumHeight(), heightForWidth(width())));
}

void FirmwareDialog::setFirmware()
{
    if (m_path.isEmpty() || m_uploading) {
        return;
    }
    ConfirmationDialog question(
        QStringLiteral(
            "Are you sure you wish to upload this file as a firmware to device?\nIf the file is invalid it "
            "can cause scale to work incorrectly\nThe process may take several minutes"),
        QStringLiteral("No"), QStringLiteral("Yes"), this);
    if (question.exec() != QDialog::Accepted) {
        return;
    }
    ui->progressBar->setValue(0);
    m_reason.clear();
    setUploading(true);
    watchDevice(CControllerInterface::currentDevice());
    qCDebug(lcUi) << "uploading" << m_path;
    if (!CBalanceController::instance()->sendNewFirmware(m_path)) {
        // Refused before it reached a device (none, not connected, busy): no end will be reported.
        m_reason = refusalReason();
        sendingFirmwareFinished(0);
    }
}

QString FirmwareDialog::refusalReason()
{
    const CDevice* device = CControllerInterface::currentDevice();
    if (!device) {
        return QStringLiteral("No instrument is connected.");
    }
    if (device->state() != STATE_CONNECTED) {
        return QStringLiteral("The instrument is not connected.");
    }
    if (device->busy()) {
        return QStringLiteral("The instrument is busy with another command: try again when it has finished.");
    }
    return QStringLiteral("This instrument does not take a firmware upload.");
}

void FirmwareDialog::sendingFirmwareFinished(int result)
{
    // Only one end per upload: a late report after a lost device is not shown again.
    if (!m_uploading) {
        return;
    }
    setUploading(false);
    qCDebug(lcUi) << "firmware upload finished" << result;
    QString text;
    if (result == 0) {
        ui->progressBar->setValue(0);
        text = QStringLiteral("Sending firmware failed!");
        if (!m_reason.isEmpty()) {
            text += QLatin1Char('\n') + m_reason;
        }
    } else {
        ui->progressBar->setValue(100);
        text = QStringLiteral("Firmware uploaded successfully!\nThe instrument took the whole of %1.")
                   .arg(QFileInfo(m_path).fileName());
    }
    m_reason.clear();
    ConfirmationDialog notice(text, QStringLiteral("OK"), QString(), this);
    notice.exec();
    done(result == 0 ? QDialog::Rejected : QDialog::Accepted);
}

void FirmwareDialog::reject()
{
    if (!m_uploading) {
        QDialog::reject();
    }
}

void FirmwareDialog::closeEvent(QCloseEvent* event)
{
    if (m_uploading) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void FirmwareDialog::setUploading(bool uploading)
{
    m_uploading = uploading;
    ui->uploadButton->setEnabled(!uploading && !m_path.isEmpty());
    ui->pickButton->setEnabled(!uploading);
    ui->closeButton->setEnabled(!uploading);
    if (!uploading && m_device) {
        disconnect(m_device, nullptr, this, nullptr);
        m_device = nullptr;
    }
}

void FirmwareDialog::onProgress(int progress)
{
    if (m_uploading) {
        // The device reports one more than the percentage once the last line has gone.
        ui->progressBar->setValue(qBound(0, progress, 100));
    }
}

void FirmwareDialog::watchDevice(CDevice* device)
{
    m_device = device;
    if (!device) {
        return;
    }
    connect(
        device, &CDevice::stateChanged, this,
        [this](int state) {
            if (state == STATE_DISCONNECTING || state == STATE_DISCONNECTED) {
                onDeviceLost();
            }
        },
        Qt::QueuedConnection);
    connect(device, &QObject::destroyed, this, &FirmwareDialog::onDeviceLost, Qt::QueuedConnection);
}

void FirmwareDialog::onDeviceLost()
{
    if (m_uploading) {
        qCWarning(lcUi) << "the device went away during the firmware upload";
        if (m_reason.isEmpty()) {
            m_reason =
                QStringLiteral("The connection to the instrument was lost during the upload. The "
                               "instrument may be left in its bootloader: connect it and send the file "
                               "again.");
        }
        sendingFirmwareFinished(0);
    }
}
