#include "ui/devicestatuspage.h"

#include "controller/cbalancecontroller.h"
#include "controller/cdevicecontroller.h"
#include "device/cdevice.h"
#include "ui/icontint.h"

#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {
QLabel* valueLabel(QWidget* parent, const char* name)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QString orDash(const QString& text)
{
    return text.trimmed().isEmpty() ? QStringLiteral("–") : text;
}
} // namespace

DeviceStatusPage::DeviceStatusPage(QWidget* parent)
    : QWidget(parent), m_summary(valueLabel(this, "summaryLabel")), m_state(valueLabel(this, "stateValue")),
      m_model(valueLabel(this, "modelValue")), m_serialNumber(valueLabel(this, "serialNumberValue")),
      m_productionDate(valueLabel(this, "productionDateValue")),
      m_firmware(valueLabel(this, "firmwareValue")), m_interface(valueLabel(this, "interfaceValue"))
{
    setWindowTitle(QStringLiteral("Device"));
    setStyleSheet(
        QStringLiteral("#deviceCard { background: #ffffff; border: 1px solid #d5dbe1; border-radius: 8px; }"
                       "#deviceCard QLabel { font-size: 14px; color: #333b44; }"
                       "#deviceCard #summaryLabel { font-size: 20px; font-weight: 600; }"
                       "#hintLabel { color: #5f6b77; }"));

    auto* card = new QFrame(this);
    card->setObjectName(QStringLiteral("deviceCard"));
    card->setFixedWidth(600);

    auto* icon = new QLabel(card);
    icon->setPixmap(IconTint::tinted(QIcon(QStringLiteral(":/Resources/device.svg")), QSize(64, 64),
                                     QColor(QStringLiteral("#2b333d"))));
    icon->setFixedSize(64, 64);

    auto* form = new QFormLayout;
    form->setHorizontalSpacing(24);
    form->setVerticalSpacing(10);
    form->addRow(QStringLiteral("State:"), m_state);
    form->addRow(QStringLiteral("Model:"), m_model);
    form->addRow(QStringLiteral("Serial number:"), m_serialNumber);
    form->addRow(QStringLiteral("Production date:"), m_productionDate);
    form->addRow(QStringLiteral("Firmware:"), m_firmware);
    form->addRow(QStringLiteral("Interface:"), m_interface);

    auto* hint =
        new QLabel(QStringLiteral("An instrument is connected at start-up with <b>--connect PORT[@BAUD]</b> "
                                  "(a serial port) or <b>--connect HOST:PORT</b> (TCP)."),
                   card);
    hint->setObjectName(QStringLiteral("hintLabel"));
    hint->setWordWrap(true);

    auto* cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(32, 28, 32, 28);
    cardLayout->setSpacing(18);
    cardLayout->addWidget(icon);
    cardLayout->addWidget(m_summary);
    cardLayout->addLayout(form);
    cardLayout->addWidget(hint);

    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(card);
    row->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->addLayout(row);
    layout->addStretch(1);

    CDeviceController* devices = CDeviceController::instance();
    connect(devices, &CControllerInterface::deviceStateChanged, this, &DeviceStatusPage::refresh);
    connect(devices, &CControllerInterface::currentDeviceChanged, this, &DeviceStatusPage::refresh);
    connect(CBalanceController::instance(), &CControllerInterface::commandFinished, this,
            [this](int result, int command) { onCommandFinished(result, command); });
    refresh();
}

void DeviceStatusPage::showEvent(QShowEvent* event)
{
    refresh();
    QWidget::showEvent(event);
}

void DeviceStatusPage::onCommandFinished(int result, int command)
{
    // The identity arrives after the state change that announced the connection.
    if (result == COMMAND_OK && command == COMMAND_READ_INFO) {
        refresh();
    }
}

void DeviceStatusPage::refresh()
{
    const CDevice* device = CControllerInterface::currentDevice();
    if (!device) {
        m_summary->setText(QStringLiteral("No instrument in use"));
        for (QLabel* label : {m_state, m_model, m_serialNumber, m_productionDate, m_firmware, m_interface}) {
            label->setText(orDash(QString()));
        }
        return;
    }
    const bool connected = device->state() == STATE_CONNECTED;
    if (!connected) {
        m_summary->setText(QStringLiteral("Instrument not connected"));
    } else {
        m_summary->setText(device->model().trimmed().isEmpty() ? QStringLiteral("Instrument connected")
                                                               : device->model());
    }
    m_state->setText(CDevice::stateName(device->state()));
    m_model->setText(orDash(device->model()));
    m_serialNumber->setText(orDash(device->serialNumber()));
    m_productionDate->setText(orDash(device->productionDate()));
    m_firmware->setText(orDash(device->firmware()));
    m_interface->setText(orDash(device->interfaceDescription()));
}
