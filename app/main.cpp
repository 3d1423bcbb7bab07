#include "app/screenshottour.h"
#include "app/singleinstance.h"
#include "app/startup.h"
#include "app/startupconnecter.h"
#include "app/trafficecho.h"
#include "controller/cbalancecontroller.h"
#include "controller/cdevicecontroller.h"
#include "device/cdevice.h"
#include "log/appdatabase.h"
#include "platform/diagnostics.h"
#include "platform/logcategories.h"
#include "platform/quitsignals.h"
#include "ui/mainwindow.h"
#include "ui/qwinwidget.h"
#include "ui/settings/settingscontroller.h"

#include "mervik_version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

// The window system's options, which the application object takes for itself once it exists: left
// aside here, so that they are not refused as unknown. Those listed first take a value.
QStringList withoutQtOptions(const QStringList& arguments)
{
    static const QStringList withValue{"platform",        "platformpluginpath",
                                       "platformtheme",   "plugin",
                                       "qwindowgeometry", "geometry",
                                       "qwindowtitle",    "title",
                                       "qwindowicon",     "icon",
                                       "display",         "name",
                                       "style",           "stylesheet",
                                       "session",         "qmljsdebugger"};
    static const QStringList flags{"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};
    QStringList kept;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (i == 0 || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("--")) {
            kept << argument;
            continue;
        }
        QString name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
        const bool valueAttached = name.contains(QLatin1Char('='));
        name = name.section(QLatin1Char('='), 0, 0);
        if (withValue.contains(name)) {
            i += valueAttached ? 0 : 1;
        } else if (!flags.contains(name)) {
            kept << argument;
        }
    }
    return kept;
}

} // namespace

int main(int argc, char* argv[])
{
    // The command line is read before the application object exists, which needs a display: help,
    // version and option errors work without one.
    QCoreApplication::setApplicationVersion(QStringLiteral(MERVIK_VERSION));
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Connects weighing instruments to this computer."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption connectOption(
        QStringLiteral("connect"),
        QStringLiteral("Connect at start-up to the instrument on the serial port PORT (optionally at BAUD, "
                       "9600 when not given) or on TCP at HOST:PORT."),
        QStringLiteral("PORT[@BAUD]|HOST:PORT"));
    const QCommandLineOption protocolOption(
        QStringLiteral("protocol"),
        QStringLiteral("The protocol of the instrument given by --connect: line (default) or three-letter, "
                       "optionally with the bus address (three-letter:ADDRESS, 0 to 32; without one the "
                       "first address that answers). Three-letter instruments are reached on serial ports."),
        QStringLiteral("line|three-letter[:ADDRESS]"), QStringLiteral("line"));
    const QCommandLineOption noReconnectOption(
        QStringLiteral("no-reconnect"),
        QStringLiteral("Do not connect the instrument again by itself when its connection is lost."));
    const QCommandLineOption echoOption(QStringLiteral("echo"),
                                        QStringLiteral("Also print the traffic and the results on stdout."));
    // For tests and the screenshot run: quit MS milliseconds after the window is shown.
    QCommandLineOption quitAfterOption(QStringLiteral("quit-after"), QStringLiteral("Quit after MS ms."),
                                       QStringLiteral("MS"));
    quitAfterOption.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption screenshotsOption(QStringLiteral("screenshots"),
                                         QStringLiteral("Write a picture of every page into DIR and quit."),
                                         QStringLiteral("DIR"));
    screenshotsOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions(
        {connectOption, protocolOption, noReconnectOption, echoOption, quitAfterOption, screenshotsOption});
    if (!parser.parse(withoutQtOptions(arguments))) {
        std::fprintf(stderr, "mervik-connect: %s\nTry 'mervik-connect --help' for more information.\n",
                     qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"))) {
        // The help text names the program as it was started, which needs an application object.
        QCoreApplication core(argc, argv);
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(versionOption)) {
        std::printf("mervik-connect %s\n", MERVIK_VERSION);
        return 0;
    }

    StartupConnecter::Target target;
    if (parser.isSet(connectOption) && !StartupConnecter::parseTarget(parser.value(connectOption), target)) {
        std::fprintf(stderr, "mervik-connect: --connect expects PORT, PORT@BAUD or HOST:PORT\n");
        return 2;
    }
    if (!StartupConnecter::parseProtocol(parser.value(protocolOption), target)) {
        std::fprintf(stderr, "mervik-connect: --protocol expects line, three-letter or three-letter:ADDRESS "
                             "(0 to 32)\n");
        return 2;
    }
    if (target.threeLetter && (!parser.isSet(connectOption) || target.network)) {
        std::fprintf(stderr,
                     "mervik-connect: --protocol three-letter goes with --connect and a serial port\n");
        return 2;
    }
    int quitAfterMs = -1;
    if (parser.isSet(quitAfterOption)) {
        bool ok = false;
        quitAfterMs = parser.value(quitAfterOption).toInt(&ok);
        if (!ok || quitAfterMs < 0) {
            std::fprintf(stderr, "mervik-connect: --quit-after expects milliseconds\n");
            return 2;
        }
    }

    QApplication app(argc, argv);
    Diagnostics::installMessagePattern();
    QuitSignals::install(&app);

    // A second start for the same data folder brings the first window to the front instead.
    Startup::applyNames();
    SingleInstance instance(QFileInfo(AppDatabase::defaultPath()).absolutePath());
    if (instance.claim() == SingleInstance::Role::Second) {
        std::fprintf(stderr, "mervik-connect: already running for this data folder; its window was brought "
                             "to the front\n");
        return 0;
    }

    Startup startup;
    startup.start();
    QObject::connect(&instance, &SingleInstance::frontRequested, &app, [&startup] {
        QWidget* window = startup.window();
        if (!window) {
            return;
        }
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        window->show();
        window->raise();
        window->activateWindow();
        qCInfo(lcUi) << "started again for this data folder: window brought to the front";
    });
    if (parser.isSet(noReconnectOption)) {
        SettingsController::instance()->autoReconnect.setState(false);
    }

    std::unique_ptr<TrafficEcho> echo;
    if (parser.isSet(echoOption)) {
        echo = std::make_unique<TrafficEcho>(stdout);
        QObject::connect(CDeviceController::instance(), &CControllerInterface::deviceStateChanged, echo.get(),
                         &TrafficEcho::onState);
        QObject::connect(CBalanceController::instance(), &CBalanceController::anyResultReceived, echo.get(),
                         &TrafficEcho::onResult);
    }

    std::unique_ptr<StartupConnecter> connecter;
    if (parser.isSet(connectOption)) {
        connecter = std::make_unique<StartupConnecter>(target);
        if (echo) {
            QObject::connect(connecter.get(), &StartupConnecter::candidateCreated, echo.get(),
                             &TrafficEcho::follow);
            QObject::connect(connecter.get(), &StartupConnecter::note, echo.get(), &TrafficEcho::onNote);
        }
    }

    std::unique_ptr<ScreenshotTour> tour;
    if (parser.isSet(screenshotsOption)) {
        tour = std::make_unique<ScreenshotTour>(startup.window(), parser.value(screenshotsOption));
        QObject::connect(tour.get(), &ScreenshotTour::finished, &app,
                         [](bool ok) { QCoreApplication::exit(ok ? 0 : 1); });
    }

    // Connect once the event loop runs, as the automatic connection does; the pictures follow.
    QTimer::singleShot(0, &app, [&connecter, &tour, &startup] {
        if (connecter) {
            connecter->connectNow();
        } else {
            startup.window()->mainWindow()->startDevicePage();
        }
        if (tour) {
            tour->start();
        }
    });
    if (quitAfterMs >= 0) {
        QTimer::singleShot(quitAfterMs, &app, &QCoreApplication::quit);
    }

    const int code = app.exec();
    tour.reset();
    // The instrument lets go of its port before the parts it reports to are gone.
    connecter.reset();
    startup.shutdown();
    echo.reset();
    return code;
}
