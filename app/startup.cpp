#include "app/startup.h"

#include "controller/capturecore.h"
#include "controller/cbalancecontroller.h"
#include "controller/cdevicecontroller.h"
#include "controller/reconnector.h"
#include "device/devicetypes.h"
#include "log/appdatabase.h"
#include "log/centralforwarder.h"
#include "log/chaincheck.h"
#include "log/cpelmlog.h"
#include "log/datafeedtablemodel.h"
#include "log/walcheckpointer.h"
#include "platform/logcategories.h"
#include "ui/capture/applicationcontroller.h"
#include "ui/log/datafeedtableview.h"
#include "ui/qwinwidget.h"
#include "ui/requestnotice.h"
#include "ui/settings/optionstore.h"
#include "ui/settings/settingscontroller.h"
#include "ui/windowplacement.h"

#include <QCoreApplication>
#include <QSqlDatabase>

Startup::Startup(QObject* parent) : QObject(parent) {}

Startup::~Startup()
{
    shutdown();
}

void Startup::step(const char* name)
{
    if (m_observer) {
        m_observer(QLatin1String(name));
    }
}

void Startup::applyNames()
{
    // No organisation domain: these two alone decide where the settings and the database live.
    QCoreApplication::setOrganizationName(QStringLiteral("Mervik"));
    QCoreApplication::setApplicationName(QStringLiteral("Mervik Connect"));
}

void Startup::start()
{
    if (m_started) {
        return;
    }
    m_started = true;
    applyNames();
    step("names");

    qCDebug(lcUi).noquote() << QStringLiteral("(") + QSqlDatabase::drivers().join(QStringLiteral(", ")) +
                                   QStringLiteral(")");
    step("sql drivers");

    openDatabase();
    step("database");

    DeviceTypes::registerMetaTypes();
    step("meta-types");

    m_log = std::make_unique<CPelmLog>();
    step("log writer");

    SettingsController::instance();
    step("settings controller");
    ApplicationController::instance()->init();
    step("capture export");

    m_deviceController = CDeviceController::instance();
    step("device controller");
    m_balanceController = CBalanceController::instance();
    // Follows the current instrument from here on, as the option says.
    Reconnector* reconnector = Reconnector::instance();
    reconnector->setEnabled(SettingsController::instance()->autoReconnect.value());
    connect(&SettingsController::instance()->autoReconnect, &TwoStateElement::stateChanged, reconnector,
            &Reconnector::setEnabled);
    step("balance controller");

    // Results are stored from here on, whether or not a page shows them.
    m_capture = std::make_unique<CaptureCore>();
    m_capture->follow(m_balanceController);
    // Stored results follow to the central database, when one is set (now or later, on the device page).
    if (m_databaseOpen) {
        m_central = std::make_unique<CentralForwarder>(CentralForwarder::configuredUri(),
                                                       CentralForwarder::stationId());
        m_central->setTraffic(CentralForwarder::configuredTraffic());
        connect(m_capture.get(), &CaptureCore::resultCaptured, m_central.get(), &CentralForwarder::nudge);
        m_central->start();
    }
    step("capture");

    m_window = std::make_unique<QWinWidget>();
    step("window");
    placeWindow();
    step("placed");

    SettingsController* settings = SettingsController::instance();
    settings->autoSend.setState(true);
    settings->autoSendUnit.setState(SettingsController::UnitMs);
    step("start-up options");
    // The user's own choices of the last run replace the start values.
    new OptionStore(settings);
    step("stored options");

    m_window->show();
    step("shown");
    checkChain();
}

void Startup::checkChain()
{
    if (!m_databaseOpen) {
        return;
    }
    if (const qint64 older = m_capture->model()->chainBeganAfter()) {
        RequestNotice::instance()->say(
            QStringLiteral("Audit trail begun: results up to %1 were stored before it and are not covered")
                .arg(older));
    }
    // Off the window's thread: the walk reads every row the newest links name.
    m_chainCheck = std::make_unique<ChainCheck>();
    connect(m_chainCheck.get(), &ChainCheck::finished, this, [](const ChainVerifier::Report& report) {
        const QString text = ChainCheck::summary(report);
        if (!text.isEmpty()) {
            qCWarning(lcUi).noquote() << text;
            RequestNotice::instance()->say(text);
        }
    });
    m_chainCheck->start(QSqlDatabase::database().databaseName(), ChainCheck::StartLinks);
}

void Startup::openDatabase()
{
    qCDebug(lcUi) << AppDatabase::defaultPath();
    m_databaseOpen = AppDatabase::open();
    if (!m_databaseOpen) {
        // The program goes on without stored logs and data feed.
        qCWarning(lcUi) << "Cannot open database file!";
        return;
    }
    m_checkpointer = std::make_unique<WalCheckpointer>();
}

void Startup::placeWindow()
{
    WindowPlacement::restore(m_window.get());
}

void Startup::shutdown()
{
    if (!m_started) {
        return;
    }
    m_started = false;
    WindowPlacement::save(m_window.get());
    // The results of the last moments are stored while the database is still open.
    if (m_capture) {
        m_capture->flush();
    }
    m_chainCheck.reset();
    // What the server takes in a moment goes now; the rest at the next start.
    if (m_central) {
        m_central->finish(FinishForwardingMs);
    }
    m_checkpointer.reset();
    QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false).close();
    // The window's views show the capture's rows: they go first.
    m_window.reset();
    m_central.reset();
    m_capture.reset();
    delete m_balanceController.data();
    delete m_deviceController.data();
    m_log.reset();
}
