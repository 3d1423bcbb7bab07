#include "ui/devicewidget.h"

#include "controller/cdevicecontroller.h"
#include "device/cdevice.h"
#include "interface/clan.h"
#include "interface/clanserver.h"
#include "interface/crs232.h"
#include "platform/logcategories.h"
#include "platform/serialports.h"
#include "search/directconnecter.h"
#include "search/searchcontroller.h"
#include "ui/confirmationdialog.h"
#include "ui/deviceitemdelegate.h"
#include "ui/interfacedialog.h"
#include "ui/pelmprogressdialog.h"
#include "ui/search/dialogrepairprompt.h"
#include "ui/settings/centralsettings.h"
#include "ui/settings/settingscontroller.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStyle>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>

namespace {

const char* const StyleSheet =
    "#findButton, #usbButton, #ethButton { border: none; border-bottom: 3px solid #d6d6d6; background: "
    "transparent;"
    " font-weight: bold; color: #797979; padding: 4px 16px; }"
    "#findButton:checked, #usbButton:checked, #ethButton:checked { border-bottom-color: #3b3b3b; color: "
    "#000000; }"
    "#findButton:hover, #usbButton:hover, #ethButton:hover { color: #3b3b3b; }"
    "QGroupBox { font-weight: bold; border: 1px solid #d6d6d6; border-radius: 4px; margin-top: 10px;"
    " padding-top: 8px; }"
    "QGroupBox::title { subcontrol-origin: margin; left: 10px; padding: 0 4px; color: #3b3b3b; }"
    "QGroupBox QWidget { font-weight: normal; }"
    "#startSearchingButton, #connectButton { background: #3b3b3b; color: #ffffff; border: none;"
    " border-radius: 4px; font-weight: bold; padding: 8px 24px; }"
    "#startSearchingButton:hover, #connectButton:hover { background: #797979; }"
    "#advancedOnUsbButton, #advancedOnEthernetButton { background: #ffffff; color: #3b3b3b;"
    " border: 1px solid #b0b0b0; border-radius: 4px; padding: 6px 18px; }"
    "#advancedOnUsbButton:hover, #advancedOnEthernetButton:hover { background: #e6e6e6; }"
    "#startSearchingButton[busy=\"true\"] { background: #c0392b; }"
    "#startSearchingButton[stopping=\"true\"] { background: #797979; }"
    "#connectButton[disco=\"true\"] { background: #797979; }"
    "#connectButton[greyed=\"true\"] { background: #d6d6d6; color: #a0a0a0; }"
    "#progressBar { border: none; background: #e6e6e6; max-height: 8px; }"
    "#progressBar::chunk { background: #6fc420; }"
    "#tableDevices { background: #ffffff; border: 1px solid #d6d6d6; }";

const QString ConnectedText = QStringLiteral("Connected");
const QString DisconnectedText = QStringLiteral("Disconnected");
const QString UnreachableText = QStringLiteral("Not reachable!");
const QStringList BaudRates = {QStringLiteral("1200"),  QStringLiteral("2400"),  QStringLiteral("4800"),
                               QStringLiteral("9600"),  QStringLiteral("19200"), QStringLiteral("38400"),
                               QStringLiteral("57600"), QStringLiteral("115200")};

QGroupBox* group(const QString& title, QLayout* layout)
{
    auto* box = new QGroupBox(title);
    box->setLayout(layout);
    return box;
}

QCheckBox* autoConnectBox(const char* name)
{
    auto* box = new QCheckBox(QStringLiteral("Automatically connect device at startup"));
    box->setObjectName(QLatin1String(name));
    SettingsController::instance()->autoConnect.bind(box);
    return box;
}

// One spelling per port: a bare name lives under /dev, and links (by-id names, socat's) lead to their file.
QString canonicalPort(const QString& name)
{
    const QString path = name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

QPushButton* viewButton(const char* name, const QString& text)
{
    auto* button = new QPushButton(text);
    button->setObjectName(QLatin1String(name));
    button->setCheckable(true);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace

DeviceWidget::DeviceWidget(QWidget* parent, SearchController* search)
    : QWidget(parent), m_search(search ? search : new SearchController), m_direct(nullptr),
      m_prompt(new DialogRepairPrompt(this))
{
    m_search->setParent(this);
    m_search->setRepairPrompt(m_prompt.get());
    buildForm();

    connect(m_search, &SearchController::newDevice, this, &DeviceWidget::onNewDevice);
    connect(m_search, &SearchController::newLog, this, &DeviceWidget::onNewLog);
    connect(m_search, &SearchController::searchProgress, m_progressBar, &QProgressBar::setValue);
    connect(m_search, &SearchController::searchFinished, this, &DeviceWidget::searchFinished);
    connect(m_search, &SearchController::summary, this, &DeviceWidget::onSearchSummary);
    connect(m_search, &SearchController::update, this, [this](int, CDevice* dev) {
        refreshRow(dev);
        updateButton();
    });

    CDeviceController* devices = CDeviceController::instance();
    connect(devices, &CControllerInterface::deviceStateChanged, this, &DeviceWidget::setDisconnected);
    connect(devices, &CControllerInterface::commandFinished, this, &DeviceWidget::onCommandFinished);
    connect(devices, &CControllerInterface::currentDeviceChanged, this, [this] {
        listCurrentDevice();
        updateButton();
    });

    // Its slots run in its own thread, reached through these queued signals.
    m_direct = new DirectConnecter(QThread::currentThread());
    connect(this, &DeviceWidget::checkAutoConnect, m_direct, &DirectConnecter::checkAuto);
    connect(this, &DeviceWidget::connectToCom, m_direct, &DirectConnecter::connectToCom);
    connect(this, &DeviceWidget::connectToEth, m_direct, &DirectConnecter::connectToEth);
    connect(this, &DeviceWidget::storeAutoConnect, m_direct, &DirectConnecter::autoConnect);
    connect(this, &DeviceWidget::disableAutoConnect, m_direct, &DirectConnecter::disableAutoConnect);
    connect(m_direct, &DirectConnecter::failed, this, [this](const QString& why) { m_failure = why; });
    connect(m_direct, &DirectConnecter::result, this, &DeviceWidget::onDirectResult);
    connect(m_direct, &DirectConnecter::connectingState, this, &DeviceWidget::autoState);
    // An instrument connected before the page was made (named on the command line) is listed too.
    listCurrentDevice();
    updateButton();
}

DeviceWidget::~DeviceWidget()
{
    // The direct connecter's thread ends first, so that no result arrives at a page being destroyed.
    delete m_direct;
    // The search outlives this body (a child): it must not ask a prompt that is gone.
    m_search->setRepairPrompt(nullptr);
    if (m_directDevice) {
        if (CControllerInterface::currentDevice() == m_directDevice) {
            CDeviceController::instance()->setCurrentDevice(nullptr);
        }
        delete m_directDevice;
    }
}

void DeviceWidget::buildForm()
{
    setWindowTitle(QStringLiteral("Device Configuration"));
    setStyleSheet(QLatin1String(StyleSheet));
    // First: the views' widgets update it as they are filled.
    m_stack = new QStackedWidget;
    m_stack->setObjectName(QStringLiteral("stackedWidget"));
    m_connectButton = new QPushButton(QStringLiteral("Connect"));
    m_connectButton->setObjectName(QStringLiteral("connectButton"));
    m_connectButton->setMinimumWidth(140);
    connect(m_connectButton, &QPushButton::clicked, this, &DeviceWidget::connectClicked);

    auto* title = new QLabel(QStringLiteral("Device Configuration"));
    title->setStyleSheet(QStringLiteral("font-size: 18px; font-weight: bold; color: #3b3b3b;"));

    m_findButton = viewButton("findButton", QStringLiteral("Find my device"));
    m_usbButton = viewButton("usbButton", QStringLiteral("USB/RS232"));
    m_ethButton = viewButton("ethButton", QStringLiteral("Network"));
    m_findButton->setChecked(true);
    auto* views = new QButtonGroup(this);
    views->setExclusive(true);
    views->addButton(m_findButton, FindView);
    views->addButton(m_usbButton, UsbView);
    views->addButton(m_ethButton, NetworkView);
    auto* viewRow = new QHBoxLayout;
    viewRow->setSpacing(0);
    viewRow->addWidget(m_findButton);
    viewRow->addWidget(m_usbButton);
    viewRow->addWidget(m_ethButton);
    viewRow->addStretch(1);

    m_stack->addWidget(buildFindView());
    m_stack->addWidget(buildUsbView());
    m_stack->addWidget(buildNetworkView());
    connect(views, &QButtonGroup::idClicked, this, [this](int view) {
        m_stack->setCurrentIndex(view);
        if (view == UsbView) {
            refreshPorts();
        }
        updateButton();
    });

    auto* reconnect = new QCheckBox(QStringLiteral("Reconnect automatically when the connection is lost"));
    reconnect->setObjectName(QStringLiteral("autoReconnectButton"));
    // A bound box gives the option its own state: it starts from the option's.
    reconnect->setChecked(SettingsController::instance()->autoReconnect.value());
    SettingsController::instance()->autoReconnect.bind(reconnect);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(reconnect);
    bottom->addStretch(1);
    bottom->addWidget(m_connectButton);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 14, 20, 20);
    layout->setSpacing(10);
    layout->addWidget(title);
    layout->addLayout(viewRow);
    layout->addWidget(m_stack, 1);
    layout->addLayout(bottom);
    layout->addWidget(new CentralSettings);
}

QWidget* DeviceWidget::buildFindView()
{
    m_startButton = new QPushButton(QStringLiteral("Start"));
    m_startButton->setObjectName(QStringLiteral("startSearchingButton"));
    m_startButton->setMinimumWidth(140);
    connect(m_startButton, &QPushButton::clicked, this, &DeviceWidget::searchClicked);
    m_progressBar = new QProgressBar;
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_progressBar->setTextVisible(false);
    m_progressBar->setValue(0);
    m_searchState = new QLabel;
    m_searchState->setObjectName(QStringLiteral("searchStateLabel"));
    m_searchState->setWordWrap(true);
    m_searchState->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_searchState->hide();
    auto* searchLayout = new QVBoxLayout;
    auto* searchRow = new QHBoxLayout;
    searchRow->addWidget(m_startButton);
    searchRow->addWidget(m_progressBar, 1);
    searchLayout->addLayout(searchRow);
    searchLayout->addWidget(m_searchState);

    m_log = new QPlainTextEdit;
    m_log->setObjectName(QStringLiteral("deviceLogText"));
    m_log->setReadOnly(true);
    auto* logLayout = new QVBoxLayout;
    logLayout->addWidget(m_log);

    m_table = new QTableWidget(0, ColumnCount);
    m_table->setObjectName(QStringLiteral("tableDevices"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("Status"), QStringLiteral("Interface"),
                                        QStringLiteral("Model"), QStringLiteral("Serial Number"),
                                        QStringLiteral("Production Date"), QStringLiteral("Firmware")});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    // A selected row would make every header bold and wider.
    m_table->horizontalHeader()->setHighlightSections(false);
    m_table->setShowGrid(false);
    // A long port path keeps its start and its end.
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideMiddle);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(InterfaceColumn, QHeaderView::Stretch);
    m_table->setItemDelegate(new DeviceItemDelegate(m_table));
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& current) { updateButton(current); });
    // A double click is the quick way to connect or disconnect a found device.
    connect(m_table, &QTableWidget::cellDoubleClicked, this, &DeviceWidget::connectClicked);
    m_autoOnFind = autoConnectBox("autoConnectOnFindButton");
    auto* devicesLayout = new QVBoxLayout;
    devicesLayout->addWidget(m_table, 1);
    devicesLayout->addWidget(m_autoOnFind);

    auto* left = new QVBoxLayout;
    left->addWidget(group(QStringLiteral("Search for devices"), searchLayout));
    left->addWidget(group(QStringLiteral("Device Log"), logLayout), 1);
    auto* page = new QWidget;
    auto* layout = new QHBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    layout->addLayout(left, 1);
    layout->addWidget(group(QStringLiteral("My Devices"), devicesLayout), 3);
    return page;
}

QWidget* DeviceWidget::buildUsbView()
{
    m_comPortBox = new QComboBox;
    m_comPortBox->setObjectName(QStringLiteral("comPortBox"));
    m_comPortBox->setEditable(true);
    m_comPortBox->setMinimumWidth(260);
    connect(m_comPortBox, &QComboBox::editTextChanged, this, [this] { updateButton(); });
    m_comBaudBox = new QComboBox;
    m_comBaudBox->setObjectName(QStringLiteral("comBaudBox"));
    m_comBaudBox->addItems(BaudRates);
    m_comBaudBox->setCurrentIndex(3);
    m_autoOnUsb = autoConnectBox("autoConnectOnUsbButton");
    m_advancedOnUsb = advancedButton("advancedOnUsbButton");

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Comport:"), m_comPortBox);
    form->addRow(QStringLiteral("Baud rate:"), m_comBaudBox);
    // The port list is read when the view is shown, not at start-up.
    return directView(QStringLiteral("USB/RS232"), form, m_autoOnUsb, m_advancedOnUsb);
}

QWidget* DeviceWidget::buildNetworkView()
{
    m_scaleIPBox = new QLineEdit;
    m_scaleIPBox->setObjectName(QStringLiteral("scaleIPBox"));
    m_scaleIPBox->setPlaceholderText(QStringLiteral("192.168.1.140"));
    m_scaleIPBox->setMinimumWidth(260);
    connect(m_scaleIPBox, &QLineEdit::textChanged, this, [this] { updateButton(); });
    m_scalePortBox = new QSpinBox;
    m_scalePortBox->setObjectName(QStringLiteral("scalePortBox"));
    m_scalePortBox->setRange(1, 65535);
    m_scalePortBox->setValue(1001);
    connect(m_scalePortBox, qOverload<int>(&QSpinBox::valueChanged), this, [this] { updateButton(); });
    m_autoOnEth = autoConnectBox("autoConnectOnEthButton");
    m_advancedOnEth = advancedButton("advancedOnEthernetButton");

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("IP Address:"), m_scaleIPBox);
    form->addRow(QStringLiteral("Port:"), m_scalePortBox);
    return directView(QStringLiteral("Network"), form, m_autoOnEth, m_advancedOnEth);
}

QPushButton* DeviceWidget::advancedButton(const char* name)
{
    auto* button = new QPushButton(QStringLiteral("Advanced"));
    button->setObjectName(QLatin1String(name));
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(button, &QPushButton::clicked, this, &DeviceWidget::openInterfaceDialog);
    return button;
}

QWidget* DeviceWidget::directView(const QString& title, QFormLayout* form, QCheckBox* autoBox,
                                  QPushButton* advanced)
{
    form->addRow(autoBox);
    form->addRow(QString(), advanced);
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* row = new QHBoxLayout;
    row->addWidget(group(title, form));
    row->addStretch(1);
    layout->addLayout(row);
    layout->addStretch(1);
    return page;
}

void DeviceWidget::start()
{
    emit checkAutoConnect();
}

void DeviceWidget::refreshPorts()
{
    const QString typed = m_comPortBox->currentText();
    m_comPortBox->clear();
    const QList<SerialPortEntry> ports = SerialPorts::available();
    for (const SerialPortEntry& port : ports) {
        m_comPortBox->addItem(port.name);
    }
    if (!typed.isEmpty()) {
        m_comPortBox->setEditText(typed);
    }
}

void DeviceWidget::setStyleFlag(QWidget* widget, const char* name, bool value)
{
    if (widget->property(name).toBool() == value && widget->property(name).isValid()) {
        return;
    }
    widget->QObject::setProperty(name, value);
    // Style sheets select on the property: they apply only after a re-polish.
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
}

void DeviceWidget::onNewLog(QString line)
{
    // Lines arrive with their own line ends.
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r'))) {
        line.chop(1);
    }
    m_log->appendPlainText(line);
}

void DeviceWidget::onNewDevice(CDevice* dev)
{
    if (!dev || m_devices.contains(dev)) {
        refreshRow(dev);
        return;
    }
    m_devices.append(dev);
    // A device the search found is deleted by the next search; one connected directly when it is
    // replaced.
    connect(dev, &QObject::destroyed, this, &DeviceWidget::dropGoneRows);
    connect(dev, &CDevice::stateChanged, this, &DeviceWidget::refreshRows, Qt::UniqueConnection);
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    for (int column = 0; column < ColumnCount; ++column) {
        m_table->setItem(row, column, new QTableWidgetItem);
    }
    fillRow(row);
    // The first find is the likely choice: one click on Connect takes it.
    if (selectedRow() < 0) {
        m_table->selectRow(row);
    }
    updateButton();
}

void DeviceWidget::refreshRows()
{
    for (int row = 0; row < m_devices.size(); ++row) {
        fillRow(row);
    }
    updateButton();
}

void DeviceWidget::dropGoneRows()
{
    for (int row = m_devices.size() - 1; row >= 0; --row) {
        if (!m_devices.at(row)) {
            m_devices.removeAt(row);
            m_table->removeRow(row);
        }
    }
    updateButton();
}

void DeviceWidget::listCurrentDevice()
{
    CDevice* current = CControllerInterface::currentDevice();
    if (current && !m_devices.contains(current)) {
        onNewDevice(current);
    }
}

void DeviceWidget::refreshRow(CDevice* dev)
{
    const int row = m_devices.indexOf(dev);
    if (row >= 0) {
        fillRow(row);
    }
}

void DeviceWidget::fillRow(int row)
{
    CDevice* dev = m_devices.value(row);
    if (!dev) {
        return;
    }
    QString status = m_table->item(row, StatusColumn)->text();
    if (dev->state() == STATE_CONNECTED) {
        status = ConnectedText;
    } else if (status == ConnectedText) {
        status = DisconnectedText;
    } else if (status.isEmpty() && !dev->unreachableReasons().isEmpty()) {
        status = UnreachableText;
    }
    m_table->item(row, StatusColumn)->setText(status);
    m_table->item(row, StatusColumn)
        ->setToolTip(dev->unreachableReasons().isEmpty() ? QString() : dev->reasonText());
    m_table->item(row, InterfaceColumn)->setText(dev->interfaceDescription());
    m_table->item(row, InterfaceColumn)->setToolTip(dev->interfaceDescription());
    m_table->item(row, ModelColumn)->setText(dev->model());
    m_table->item(row, SerialNumberColumn)->setText(dev->serialNumber());
    m_table->item(row, ProductionDateColumn)->setText(dev->productionDate());
    m_table->item(row, FirmwareColumn)->setText(dev->firmware());
}

int DeviceWidget::selectedRow() const
{
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void DeviceWidget::searchClicked()
{
    if (m_startButton->property("stopping").toBool()) {
        return;
    }
    if (!m_startButton->property("busy").toBool()) {
        setStyleFlag(m_startButton, "busy", true);
        m_startButton->setText(QStringLiteral("Stop"));
        m_table->setRowCount(0);
        m_devices.clear();
        m_log->clear();
        m_progressBar->setValue(0);
        m_searchState->setText(QStringLiteral("Searching serial ports and networks..."));
        m_searchState->show();
        m_pending = nullptr;
        updateButton();
        m_search->startSearching();
        return;
    }
    setStyleFlag(m_startButton, "busy", false);
    setStyleFlag(m_startButton, "stopping", true);
    m_startButton->setText(QStringLiteral("Stopping..."));
    emit m_search->stopSearching();
}

void DeviceWidget::searchFinished()
{
    // Ports the search could not open for want of rights: the user can put that right.
    const QList<SerialPortEntry> ports = SerialPorts::available();
    for (const SerialPortEntry& port : ports) {
        const QString problem = SerialPorts::permissionProblem(port.name);
        if (!problem.isEmpty()) {
            onNewLog(problem);
        }
    }
    setStyleFlag(m_startButton, "busy", false);
    setStyleFlag(m_startButton, "stopping", false);
    m_startButton->setText(QStringLiteral("Start"));
    m_progressBar->setValue(100);
}

void DeviceWidget::onSearchSummary(QString text)
{
    m_searchState->setText(text);
    m_searchState->show();
}

void DeviceWidget::updateButton(QItemSelection current)
{
    Q_UNUSED(current)
    bool greyed = false;
    bool disco = false;
    const int view = m_stack->currentIndex();
    if (view == FindView) {
        const int row = selectedRow();
        CDevice* dev = row >= 0 ? m_devices.value(row) : nullptr;
        greyed = !dev;
        disco = dev && dev->state() == STATE_CONNECTED;
    } else if (m_attempt.active) {
        // One direct connection at a time.
        m_connectButton->setText(QStringLiteral("Connecting..."));
        m_connectButton->setEnabled(false);
        return;
    } else if (placeConnected(view)) {
        disco = true;
    } else if (view == UsbView) {
        greyed = m_comPortBox->currentText().trimmed().isEmpty();
    } else {
        // An address that cannot be one would only fail to connect.
        greyed = QHostAddress(m_scaleIPBox->text().trimmed()).protocol() != QAbstractSocket::IPv4Protocol;
    }
    m_connectButton->setText(disco ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
    setStyleFlag(m_connectButton, "disco", disco);
    setStyleFlag(m_connectButton, "greyed", greyed);
    m_connectButton->setEnabled(!greyed);
}

bool DeviceWidget::placeConnected(int view) const
{
    CDevice* current = CControllerInterface::currentDevice();
    if (!current || current->state() != STATE_CONNECTED) {
        return false;
    }
    CInterface* transport = current->interface();
    if (view == UsbView) {
        const auto* serial = qobject_cast<CRS232*>(transport);
        const QString typed = m_comPortBox->currentText().trimmed();
        return serial && !typed.isEmpty() && canonicalPort(serial->portPath()) == canonicalPort(typed);
    }
    if (view == NetworkView) {
        const auto* lan = qobject_cast<CLAN*>(transport);
        return lan && lan->address() == QHostAddress(m_scaleIPBox->text().trimmed()) &&
               lan->port() == m_scalePortBox->value();
    }
    return false;
}

void DeviceWidget::connectClicked()
{
    const int view = m_stack->currentIndex();
    if (view != FindView) {
        if (m_attempt.active) {
            return;
        }
        if (placeConnected(view)) {
            // The instrument stays the current one, disconnected, as a found device does.
            CControllerInterface::currentDevice()->disconnectDevice();
            return;
        }
        connectDirectly(view);
        return;
    }
    const int row = selectedRow();
    CDevice* dev = m_devices.value(row);
    if (!dev) {
        return;
    }
    const int index = m_search->indexOf(dev);
    if (index < 0) {
        toggleListedDevice(dev);
        return;
    }
    if (dev->state() != STATE_DISCONNECTED) {
        m_search->toggleConnection(index);
        return;
    }
    qCDebug(lcUi) << "sending device to thread";
    m_pending = dev;
    m_pendingStoresTarget = m_autoOnFind->isChecked();
    m_search->toggleConnection(index);
}

void DeviceWidget::toggleListedDevice(CDevice* dev)
{
    const int state = dev->state();
    if (state == STATE_CONNECTING || state == STATE_DISCONNECTING) {
        return;
    }
    if (state != STATE_DISCONNECTED) {
        dev->disconnectDevice();
        return;
    }
    // One instrument at a time: a search and whatever else is connected let go of their ports first.
    m_search->stopAndWait();
    if (CControllerInterface::currentDevice() != dev) {
        m_search->disconnectCurrentDevice();
        CDeviceController::instance()->setCurrentDevice(dev);
    }
    m_pending = dev;
    m_pendingStoresTarget = m_autoOnFind->isChecked();
    dev->connectDevice(true);
}

void DeviceWidget::storeFoundTarget(CDevice* dev)
{
    CInterface* transport = dev->interface();
    if (auto* serial = qobject_cast<CRS232*>(transport)) {
        emit storeAutoConnect(serial->portPath(), serial->baudRate());
    } else if (auto* lan = qobject_cast<CLAN*>(transport)) {
        emit storeAutoConnect(lan->address().toString(), lan->port());
    } else {
        // The instrument calls the computer: there is no place to connect to at start.
        emit disableAutoConnect();
        auto* notice = new ConfirmationDialog(
            QStringLiteral("This device connects to the computer by itself, so it cannot be connected "
                           "automatically at startup.\nIt is connected now."),
            QStringLiteral("OK"), QString(), this);
        notice->setAttribute(Qt::WA_DeleteOnClose);
        notice->open();
    }
}

void DeviceWidget::connectDirectly(int view)
{
    m_search->stopAndWait();
    m_attempt = DirectAttempt();
    m_attempt.active = true;
    // A different place is tried while the current instrument goes on working; it is replaced only
    // by one that answered.
    m_attempt.previous = CControllerInterface::currentDevice();
    m_failure.clear();
    if (view == UsbView) {
        m_attempt.place = m_comPortBox->currentText().trimmed();
        m_attempt.number = m_comBaudBox->currentText().toInt();
        m_attempt.storeTarget = m_autoOnUsb->isChecked();
        emit connectToCom(m_attempt.place, m_attempt.number);
    } else {
        m_attempt.place = m_scaleIPBox->text().trimmed();
        m_attempt.number = m_scalePortBox->value();
        m_attempt.storeTarget = m_autoOnEth->isChecked();
        emit connectToEth(m_attempt.place, m_attempt.number);
    }
    updateButton();
}

void DeviceWidget::onDirectResult(CDevice* dev)
{
    const DirectAttempt attempt = m_attempt;
    m_attempt = DirectAttempt();
    const QString why = m_failure;
    m_failure.clear();
    if (dev) {
        CDevice* previous = attempt.previous;
        if (previous && previous != dev && previous->state() != STATE_DISCONNECTED) {
            // Its row follows it: it is no longer the controllers' current device.
            connect(previous, &CDevice::stateChanged, this, &DeviceWidget::refreshRows, Qt::UniqueConnection);
            previous->disconnectDevice();
        }
        if (m_directDevice && m_directDevice != dev) {
            m_directDevice->deleteLater();
        }
        m_directDevice = dev;
        listCurrentDevice();
    }
    refreshRows();
    if (m_autoConnecting) {
        // At start the status line says enough when it worked.
        if (!dev) {
            showOutcome(false, why);
        }
        return;
    }
    if (!attempt.active) {
        return;
    }
    if (dev) {
        if (attempt.storeTarget) {
            emit storeAutoConnect(attempt.place, attempt.number);
        } else {
            emit disableAutoConnect();
        }
        showOutcome(true, QString());
        return;
    }
    QString text = why;
    CDevice* current = CControllerInterface::currentDevice();
    if (current && current->state() == STATE_CONNECTED) {
        text += QStringLiteral("\n\nThe instrument on %1 is still connected.")
                    .arg(current->interfaceDescription());
    }
    showOutcome(false, text);
}

void DeviceWidget::showOutcome(bool connected, const QString& why)
{
    QString text = connected ? ConnectedText : QStringLiteral("Failed to connect");
    if (!why.isEmpty()) {
        text += (connected ? QStringLiteral("\n\n") : QStringLiteral(": ")) + why;
    }
    auto* dialog = new ConfirmationDialog(text, QStringLiteral("OK"), QString(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (connected) {
        // Acknowledged, the user goes on to the results.
        connect(dialog, &QDialog::finished, this, [this] { emit setDataFeed(true); });
    }
    dialog->open();
}

void DeviceWidget::onCommandFinished(int result, int command)
{
    Q_UNUSED(result)
    Q_UNUSED(command)
    refreshRow(CControllerInterface::currentDevice());
    updateButton();
}

void DeviceWidget::setDisconnected(int state)
{
    Q_UNUSED(state)
    // Every row from its device's own state: the signal's argument may describe an earlier change.
    refreshRows();
    if (m_pending && m_pending == CControllerInterface::currentDevice()) {
        const int now = m_pending->state();
        if (now == STATE_CONNECTED || now == STATE_DISCONNECTED) {
            CDevice* dev = m_pending;
            m_pending = nullptr;
            // The automatic connection changes only once the connection has succeeded.
            if (now == STATE_CONNECTED && m_pendingStoresTarget) {
                storeFoundTarget(dev);
            } else if (now == STATE_CONNECTED) {
                emit disableAutoConnect();
            }
            showOutcome(now == STATE_CONNECTED, QString());
        }
    }
}

void DeviceWidget::autoState(bool state)
{
    if (state) {
        m_autoConnecting = true;
        SettingsController::instance()->autoConnect.setState(true);
        if (!m_autoProgress) {
            m_autoProgress = new PelmProgressDialog(
                QStringLiteral(
                    "Trying to automatically connect to device...\n\r\n\r(It may take up to 20 seconds)"),
                this);
        }
        m_autoProgress->show();
        return;
    }
    if (m_autoProgress) {
        m_autoProgress->close();
        m_autoProgress->deleteLater();
        m_autoProgress = nullptr;
    }
    m_autoConnecting = false;
    emit autoOn();
}

void DeviceWidget::openInterfaceDialog()
{
    // The form, or the warning that the current instrument has no module to configure; on the heap,
    // as the page may go while its event loop runs.
    QPointer<InterfaceDialog> dialog = new InterfaceDialog(this);
    dialog->exec();
    delete dialog;
}
