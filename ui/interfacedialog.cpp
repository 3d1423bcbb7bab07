#include "ui/interfacedialog.h"
#include "ui_interfacedialog.h"

#include "controller/cdevicecontroller.h"
#include "controller/settingrun.h"
#include "device/cdevice.h"
#include "interface/ctibbo.h"
#include "platform/ipv4.h"
#include "platform/logcategories.h"
#include "ui/confirmationdialog.h"
#include "ui/pelmprogressdialog.h"

#include <QMessageBox>
#include <QPainter>
#include <QStyle>

#include <algorithm>
#include <utility>

namespace {

// Indexes of the two choices.
constexpr int IpStatic = 0;
constexpr int IpDynamic = 1;
constexpr int Server = 0;
constexpr int Client = 1;

const QString NoAddress = QStringLiteral("0.0.0.0");

// Four dotted decimal numbers of at most 255; QHostAddress alone would also take "10.1" or "10".
bool isAddress(const QString& text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 4) {
        return false;
    }
    return std::all_of(parts.begin(), parts.end(), [](const QString& part) {
        const bool digits = std::all_of(
            part.begin(), part.end(), [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
        return digits && !part.isEmpty() && part.size() <= 3 && part.toInt() <= 255;
    });
}

bool isNetmask(const QString& text)
{
    return isAddress(text) && isContiguousMask(ipv4(QHostAddress(text.trimmed())));
}

bool connectedWithModule(const CDevice* device)
{
    return device && device->state() == STATE_CONNECTED && device->module();
}

} // namespace

InterfaceDialog::InterfaceDialog(QWidget* parent) : QDialog(parent), ui(new Ui::InterfaceDialog)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setModal(true);

    connect(ui->saveButton, &QPushButton::clicked, this, &InterfaceDialog::changeParams);
    connect(ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(CDeviceController::instance(), &CControllerInterface::deviceStateChanged, this,
            &InterfaceDialog::deviceStateChanged);
    connect(ui->clientServerModeBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &InterfaceDialog::clientServerModeChanged);
    connect(ui->ipModeBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &InterfaceDialog::ipModeChanged);
    for (QLineEdit* line : {ui->ipAddressLine, ui->netmaskLine, ui->gatewayLine, ui->serverIPLine}) {
        connect(line, &QLineEdit::textChanged, this, &InterfaceDialog::validate);
    }
    clientServerModeChanged(ui->clientServerModeBox->currentIndex());
    ipModeChanged(ui->ipModeBox->currentIndex());

    // Opened once the device is connected: the form starts from its module.
    if (CDevice* device = CControllerInterface::currentDevice()) {
        deviceStateChanged(device->state());
    }
}

InterfaceDialog::~InterfaceDialog()
{
    delete ui;
}

int InterfaceDialog::exec()
{
    if (!m_loaded) {
        warnNotLoaded();
        return Rejected;
    }
    return QDialog::exec();
}

void InterfaceDialog::warnNotLoaded()
{
    QMessageBox::warning(parentWidget(), tr("Error"),
                         tr("Can't configure IP connection settings\nAuto-connected devices should be "
                            "connected from 'Find my device' to configure them"));
}

void InterfaceDialog::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    QPainter painter(this);
    painter.setPen(QPen(QColor(QStringLiteral("#3b3b3b")), 2));
    painter.drawRect(rect().adjusted(1, 1, -1, -1));
}

void InterfaceDialog::showProgress(bool show)
{
    if (show && !m_progress) {
        m_progress = new PelmProgressDialog(
            tr("Changing interface settings...\n\r\n\r(It make take up to 20 seconds)"), this);
        m_progress->show();
    } else if (!show && m_progress) {
        m_progress->close();
        m_progress->deleteLater();
        m_progress.clear();
    }
}

void InterfaceDialog::deviceStateChanged(int state)
{
    // The argument may be stale when it crossed threads; the device's own state decides.
    const CDevice* device = CControllerInterface::currentDevice();
    m_loaded = state == STATE_CONNECTED && connectedWithModule(device);
    if (!m_loaded) {
        return;
    }
    const CInterfaceModule* module = device->module();
    ui->ipModeBox->setCurrentIndex(module->dhcp() ? IpDynamic : IpStatic);
    ui->ipAddressLine->setText(module->ip().toString());
    ui->netmaskLine->setText(module->netmask().toString());
    ui->gatewayLine->setText(module->gateway().toString());
    ui->clientServerModeBox->setCurrentIndex(
        module->routingMode() == CInterfaceModule::ROUTING_CLIENT ? Client : Server);
    ui->portBox->setValue(module->port());
    ui->serverIPLine->setText(module->remoteIp().toString());
    validate();
}

void InterfaceDialog::clientServerModeChanged(int index)
{
    ui->serverIPLine->setEnabled(index == Client);
    validate();
}

void InterfaceDialog::ipModeChanged(int index)
{
    for (QLineEdit* line : {ui->ipAddressLine, ui->netmaskLine, ui->gatewayLine}) {
        line->setEnabled(index == IpStatic);
    }
    validate();
}

void InterfaceDialog::validate()
{
    const bool fixed = ui->ipModeBox->currentIndex() == IpStatic;
    const bool client = ui->clientServerModeBox->currentIndex() == Client;
    const QString gateway = ui->gatewayLine->text().trimmed();
    const std::pair<QLineEdit*, bool> lines[] = {
        {ui->ipAddressLine, fixed && !isAddress(ui->ipAddressLine->text())},
        {ui->netmaskLine, fixed && !isNetmask(ui->netmaskLine->text())},
        {ui->gatewayLine, fixed && !gateway.isEmpty() && !isAddress(gateway)},
        {ui->serverIPLine, client && !isAddress(ui->serverIPLine->text())},
    };
    bool valid = true;
    for (const auto& [line, invalid] : lines) {
        valid = valid && !invalid;
        if (line->property("invalid").toBool() != invalid) {
            line->setProperty("invalid", invalid);
            line->style()->unpolish(line);
            line->style()->polish(line);
        }
    }
    ui->saveButton->setEnabled(valid && !m_progress);
}

QStringList InterfaceDialog::formSettings() const
{
    const auto text = [](const QLineEdit* line, bool (*check)(const QString&)) {
        return line->isEnabled() || check(line->text()) ? line->text().trimmed() : NoAddress;
    };
    const QString gateway = ui->gatewayLine->text().trimmed();
    return {ui->ipModeBox->currentText(),
            text(ui->ipAddressLine, isAddress),
            text(ui->netmaskLine, isNetmask),
            gateway.isEmpty() ? gateway : text(ui->gatewayLine, isAddress),
            ui->clientServerModeBox->currentText(),
            QString::number(ui->portBox->value()),
            text(ui->serverIPLine, isAddress)};
}

bool InterfaceDialog::plannedReachable(CDevice* device, const QStringList& settings) const
{
    CInterfaceModule* module = device->module();
    CTibbo planned(module->localAddress(), module->localNetmask(), module->mac(),
                   QHostAddress(settings.at(1)));
    planned.setPlannedSettings(
        ui->ipModeBox->currentIndex() != IpStatic,
        ui->clientServerModeBox->currentIndex() == Client ? CInterfaceModule::ROUTING_CLIENT
                                                          : CInterfaceModule::ROUTING_SERVER,
        QHostAddress(settings.at(6)), QHostAddress(settings.at(2)), CInterfaceModule::PROTOCOL_TCP);
    const bool reachable = device->isReachable(&planned);
    // The device keeps the reasons of the settings it has, not of the planned ones.
    device->isReachable();
    return reachable;
}

void InterfaceDialog::changeParams()
{
    ui->saveButton->setEnabled(false);
    const QStringList settings = formSettings();
    QPointer<CDevice> device = CControllerInterface::currentDevice();
    if (!connectedWithModule(device)) {
        m_loaded = false;
        warnNotLoaded();
        validate();
        return;
    }
    m_proceed = plannedReachable(device, settings);
    qCDebug(lcUi) << (m_proceed ? "REACHABLE" : "NOT REACHABLE!") << settings;
    if (!m_proceed) {
        ConfirmationDialog question(tr("New settings force device to be unreachable.\nProceed?"), tr("No"),
                                    tr("Yes"), this);
        // The device may have gone while the user decided.
        if (question.exec() != QDialog::Accepted || !connectedWithModule(device)) {
            validate();
            return;
        }
    }
    showProgress(true);
    auto* run = new SettingRun(device, settings);
    // Queued: the failure box must not hold the run on the stack.
    connect(run, &SettingRun::settingFinished, this, &InterfaceDialog::onInterfaceSettingFinished,
            Qt::QueuedConnection);
    run->start(m_proceed);
}

void InterfaceDialog::onInterfaceSettingFinished(int ret)
{
    showProgress(false);
    if (ret == 0) {
        QMessageBox box(QMessageBox::Information, QString(), tr("Changing interface settings failed!"),
                        QMessageBox::Ok, this);
        box.setInformativeText(tr(
            "Because of unknown reason changing interface settings failed. Trying to reconnect to device."));
        box.exec();
    }
    validate();
    accept();
}
