#include "device/cdevice.h"
#include "platform/diagnostics.h"
#include "ui/trafficview.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMainWindow>
#include <QTimer>

#include <cstdio>

namespace {

struct ConnectTarget
{
    QString port;
    int baud = 9600;
};

// PORT or PORT@BAUD.
bool parseConnectTarget(const QString& text, ConnectTarget& target)
{
    const int at = text.lastIndexOf(QLatin1Char('@'));
    target.port = at < 0 ? text : text.left(at);
    if (at >= 0) {
        bool ok = false;
        target.baud = text.mid(at + 1).toInt(&ok);
        if (!ok || target.baud <= 0) {
            return false;
        }
    }
    return !target.port.isEmpty();
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Mervik"));
    QCoreApplication::setApplicationName(QStringLiteral("Mervik Connect"));
    Diagnostics::installMessagePattern();
    DeviceTypes::registerMetaTypes();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Connects weighing instruments to this computer."));
    parser.addHelpOption();
    const QCommandLineOption connectOption(
        QStringLiteral("connect"),
        QStringLiteral("Connect at start-up to the instrument on PORT (optionally @BAUD)."),
        QStringLiteral("PORT[@BAUD]"));
    const QCommandLineOption intervalOption(
        QStringLiteral("interval"), QStringLiteral("Request a result every MS milliseconds (default 1000)."),
        QStringLiteral("MS"), QStringLiteral("1000"));
    const QCommandLineOption echoOption(QStringLiteral("echo"),
                                        QStringLiteral("Also print the traffic on stdout."));
    parser.addOptions({connectOption, intervalOption, echoOption});
    parser.process(app);

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Mervik Connect"));
    window.setMinimumSize(800, 600);
    auto* traffic = new TrafficView(&window);
    traffic->setEchoToStdout(parser.isSet(echoOption));
    window.setCentralWidget(traffic);

    CDevice device;
    QTimer requestTimer;
    if (parser.isSet(connectOption)) {
        ConnectTarget target;
        if (!parseConnectTarget(parser.value(connectOption), target)) {
            std::fprintf(stderr, "mervik-connect: --connect expects PORT or PORT@BAUD\n");
            return 2;
        }
        QObject::connect(&device, &CDevice::newOutLog, traffic, &TrafficView::onOutLog);
        QObject::connect(&device, &CDevice::newInLog, traffic, &TrafficView::onInLog);
        QObject::connect(&device, &CDevice::resultReceived, traffic, &TrafficView::onResult);
        QObject::connect(&device, &CDevice::commandFinished, traffic,
                         [traffic](int result, int, QVariant response) {
                             if (result == COMMAND_OK && response.canConvert<Measurement>()) {
                                 traffic->onResult(response.value<Measurement>());
                             }
                         });
        QObject::connect(&device, &CDevice::stateChanged, traffic, [traffic](int state) {
            traffic->onNote(QStringLiteral("STATE ") + CDevice::stateName(state));
        });
        device.setRS232(target.port, QString(), target.baud);
        requestTimer.setInterval(qMax(50, parser.value(intervalOption).toInt()));
        QObject::connect(&requestTimer, &QTimer::timeout, &device, [&device] {
            if (device.state() == STATE_CONNECTED && !device.busy()) {
                device.result();
            }
        });
        // Connect once the event loop runs, as the automatic connection does.
        QTimer::singleShot(0, &device, [&device, &requestTimer, traffic] {
            if (!device.connectDevice(true)) {
                traffic->onNote(QStringLiteral("Cannot open ") + device.interfaceDescription());
                return;
            }
            if (device.checkEcho() && device.readInfo()) {
                traffic->onNote(QStringLiteral("Instrument: %1, serial %2, made %3, firmware %4")
                                    .arg(device.model(), device.serialNumber(), device.productionDate(),
                                         device.firmware()));
            }
            requestTimer.start();
        });
    }

    window.show();
    return app.exec();
}
