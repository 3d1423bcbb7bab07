// mervik-sim: a simulated weighing instrument on a pseudo-terminal or a TCP connection.

#include "siminstrument.h"
#include "simpty.h"
#include "simtcpclient.h"
#include "simtcpserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onTerminate(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM end the event loop normally, so that destructors remove the symlink.
void quitOnSignals(QCoreApplication* app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, &QCoreApplication::quit);
    struct sigaction action = {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

[[noreturn]] void fail(const QString& message, int code = 2)
{
    std::fprintf(stderr, "mervik-sim: %s\n", qPrintable(message));
    std::exit(code);
}

// "[ADDR:]PORT", "HOST:PORT" or "[V6ADDR]:PORT".
bool splitHostPort(const QString& text, bool hostRequired, QString* host, quint16* port)
{
    QString hostPart;
    QString portPart = text;
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        hostPart = text.left(colon);
        portPart = text.mid(colon + 1);
        if (hostPart.startsWith(QLatin1Char('[')) && hostPart.endsWith(QLatin1Char(']'))) {
            hostPart = hostPart.mid(1, hostPart.size() - 2);
        }
        if (hostPart.isEmpty()) {
            return false;
        }
    } else if (hostRequired) {
        return false;
    }
    bool ok = false;
    const uint value = portPart.toUInt(&ok);
    if (!ok || value > 65535) {
        return false;
    }
    if (!hostPart.isEmpty()) {
        *host = hostPart;
    }
    *port = quint16(value);
    return true;
}

QString hostPortText(const QHostAddress& address, quint16 port)
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                             : address.toString();
    return host + QLatin1Char(':') + QString::number(port);
}

double number(const QCommandLineParser& parser, const QString& name, double low, double high)
{
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if (!ok || value < low || value > high) {
        fail(QStringLiteral("--%1: expected a number from %2 to %3").arg(name).arg(low).arg(high));
    }
    return value;
}

int integer(const QCommandLineParser& parser, const QString& name, int low, int high)
{
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < low || value > high) {
        fail(QStringLiteral("--%1: expected a whole number from %2 to %3").arg(name).arg(low).arg(high));
    }
    return value;
}

QByteArray identityText(const QCommandLineParser& parser, const QString& name, const QByteArray& fallback)
{
    if (!parser.isSet(name)) {
        return fallback;
    }
    const QByteArray text = parser.value(name).toUtf8();
    if (text.contains('\r') || text.contains('\n')) {
        fail(QStringLiteral("--%1: must be one line").arg(name));
    }
    return text;
}

void printLine(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mervik-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated weighing instrument speaking the S/M line protocol.\n"
                       "Prints \"PTY <slave path>\" or \"TCP <addr>:<port>\" on stdout once it serves."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("pty"), QStringLiteral("Serve on a pseudo-terminal (default).")},
        {QStringLiteral("link"), QStringLiteral("Symlink PATH to the pseudo-terminal's slave."),
         QStringLiteral("PATH")},
        {QStringLiteral("tcp-server"), QStringLiteral("Listen on [ADDR:]PORT (ADDR defaults to 127.0.0.1)."),
         QStringLiteral("[ADDR:]PORT")},
        {QStringLiteral("tcp-client"), QStringLiteral("Connect to HOST:PORT."), QStringLiteral("HOST:PORT")},
        {QStringLiteral("generation"), QStringLiteral("Instrument generation: current or old."),
         QStringLiteral("current|old"), QStringLiteral("current")},
        {QStringLiteral("weight"), QStringLiteral("Gross weight on the pan."), QStringLiteral("W"),
         QStringLiteral("0")},
        {QStringLiteral("unit"), QStringLiteral("Unit, up to 3 characters."), QStringLiteral("U"),
         QStringLiteral("g")},
        {QStringLiteral("decimals"), QStringLiteral("Decimal places, 0 to 7."), QStringLiteral("N"),
         QStringLiteral("3")},
        {QStringLiteral("unstable"),
         QStringLiteral("Weight never settles: results marked 'U', SI unanswered.")},
        {QStringLiteral("stream"), QStringLiteral("Send a result by itself every MS ms."),
         QStringLiteral("MS")},
        {QStringLiteral("delay"), QStringLiteral("Answer after MS ms."), QStringLiteral("MS"),
         QStringLiteral("0")},
        {QStringLiteral("drop"), QStringLiteral("Probability 0..1 of dropping an answer."),
         QStringLiteral("P"), QStringLiteral("0")},
        {QStringLiteral("garble"), QStringLiteral("Probability 0..1 of garbling an answer."),
         QStringLiteral("P"), QStringLiteral("0")},
        {QStringLiteral("seed"), QStringLiteral("Seed for --drop, --garble and --noise."),
         QStringLiteral("N"), QStringLiteral("0")},
        {QStringLiteral("silent-after"), QStringLiteral("Go quiet after N received lines."),
         QStringLiteral("N")},
        {QStringLiteral("noise"), QStringLiteral("Add uniform noise of +-A to every result."),
         QStringLiteral("A"), QStringLiteral("0")},
        {QStringLiteral("model"), QStringLiteral("Model in the identity."), QStringLiteral("TEXT")},
        {QStringLiteral("serial"), QStringLiteral("Serial number in the identity."), QStringLiteral("TEXT")},
        {QStringLiteral("production-date"), QStringLiteral("Production date in the identity."),
         QStringLiteral("TEXT")},
        {QStringLiteral("firmware"), QStringLiteral("Firmware version in the identity."),
         QStringLiteral("TEXT")},
        {QStringLiteral("verbose"), QStringLiteral("Write the traffic to stderr.")},
        {QStringLiteral("max-seconds"), QStringLiteral("Exit by itself after S seconds."),
         QStringLiteral("S")},
    });
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().constFirst()));
    }

    const int transports = int(parser.isSet(QStringLiteral("pty"))) +
                           int(parser.isSet(QStringLiteral("tcp-server"))) +
                           int(parser.isSet(QStringLiteral("tcp-client")));
    if (transports > 1) {
        fail(QStringLiteral("choose one of --pty, --tcp-server and --tcp-client"));
    }
    const bool usePty = transports == 0 || parser.isSet(QStringLiteral("pty"));
    if (parser.isSet(QStringLiteral("link")) && !usePty) {
        fail(QStringLiteral("--link needs the pseudo-terminal"));
    }

    SimInstrument instrument;
    const QString generation = parser.value(QStringLiteral("generation"));
    if (generation == QLatin1String("old")) {
        instrument.setGeneration(SimInstrument::Generation::Old);
    } else if (generation != QLatin1String("current")) {
        fail(QStringLiteral("--generation: expected current or old"));
    }
    const QByteArray unit = parser.value(QStringLiteral("unit")).toUtf8();
    if (unit.size() > 3 || unit.contains('\r') || unit.contains('\n')) {
        fail(QStringLiteral("--unit: at most 3 characters"));
    }
    const int decimals = integer(parser, QStringLiteral("decimals"), 0, 7);
    const double weight = number(parser, QStringLiteral("weight"), -1e9, 1e9);
    if (SimInstrument::formatResult(weight, decimals, unit).contains("OL")) {
        fail(QStringLiteral("--weight: does not fit 9 characters with %1 decimals").arg(decimals));
    }
    instrument.setUnit(unit);
    instrument.setDecimals(decimals);
    instrument.setWeight(weight);
    instrument.setStable(!parser.isSet(QStringLiteral("unstable")));
    instrument.setAnswerDelay(integer(parser, QStringLiteral("delay"), 0, 600000));
    instrument.setDropProbability(number(parser, QStringLiteral("drop"), 0, 1));
    instrument.setGarbleProbability(number(parser, QStringLiteral("garble"), 0, 1));
    instrument.setNoise(number(parser, QStringLiteral("noise"), 0, 1e6));
    bool seedOk = false;
    const uint seed = parser.value(QStringLiteral("seed")).toUInt(&seedOk);
    if (!seedOk) {
        fail(QStringLiteral("--seed: expected a whole number"));
    }
    instrument.setSeed(seed);
    if (parser.isSet(QStringLiteral("silent-after"))) {
        instrument.setSilentAfter(integer(parser, QStringLiteral("silent-after"), 0, 2147483647));
    }
    SimInstrument::Identity identity;
    identity.model = identityText(parser, QStringLiteral("model"), identity.model);
    identity.serialNumber = identityText(parser, QStringLiteral("serial"), identity.serialNumber);
    identity.productionDate =
        identityText(parser, QStringLiteral("production-date"), identity.productionDate);
    identity.firmware = identityText(parser, QStringLiteral("firmware"), identity.firmware);
    instrument.setIdentity(identity);
    instrument.setVerbose(parser.isSet(QStringLiteral("verbose")));
    const int streamMs =
        parser.isSet(QStringLiteral("stream")) ? integer(parser, QStringLiteral("stream"), 1, 3600000) : 0;
    if (parser.isSet(QStringLiteral("max-seconds"))) {
        const double seconds = number(parser, QStringLiteral("max-seconds"), 0.001, 31 * 24 * 3600.0);
        QTimer::singleShot(qint64(seconds * 1000), Qt::CoarseTimer, &app, &QCoreApplication::quit);
    }
    quitOnSignals(&app);

    SimPty pty;
    SimTcpServer server;
    SimTcpClient client;
    if (usePty) {
        QString error;
        if (!pty.open(&error)) {
            fail(error, 1);
        }
        if (parser.isSet(QStringLiteral("link")) &&
            !pty.createLink(parser.value(QStringLiteral("link")), &error)) {
            fail(error, 1);
        }
        QObject::connect(&pty, &SimPty::received, &instrument, &SimInstrument::feed);
        QObject::connect(&instrument, &SimInstrument::output, &pty, &SimPty::write);
        printLine(QStringLiteral("PTY ") + pty.slavePath());
    } else if (parser.isSet(QStringLiteral("tcp-server"))) {
        QString host = QStringLiteral("127.0.0.1");
        quint16 port = 0;
        if (!splitHostPort(parser.value(QStringLiteral("tcp-server")), false, &host, &port)) {
            fail(QStringLiteral("--tcp-server: expected [ADDR:]PORT"));
        }
        const QHostAddress address(host);
        if (address.isNull()) {
            fail(QStringLiteral("--tcp-server: %1 is not an address").arg(host));
        }
        QString error;
        if (!server.listen(address, port, &error)) {
            fail(QStringLiteral("--tcp-server: %1").arg(error), 1);
        }
        QObject::connect(&server, &SimTcpServer::clientConnected, &instrument, &SimInstrument::resetInput);
        QObject::connect(&server, &SimTcpServer::received, &instrument, &SimInstrument::feed);
        QObject::connect(&instrument, &SimInstrument::output, &server, &SimTcpServer::write);
        printLine(QStringLiteral("TCP ") + hostPortText(server.address(), server.port()));
    } else {
        QString host;
        quint16 port = 0;
        if (!splitHostPort(parser.value(QStringLiteral("tcp-client")), true, &host, &port) || port == 0) {
            fail(QStringLiteral("--tcp-client: expected HOST:PORT"));
        }
        QObject::connect(&client, &SimTcpClient::connected, &instrument, &SimInstrument::resetInput);
        QObject::connect(&client, &SimTcpClient::received, &instrument, &SimInstrument::feed);
        QObject::connect(&instrument, &SimInstrument::output, &client, &SimTcpClient::write);
        QObject::connect(&client, &SimTcpClient::gaveUp, &app, [] {
            std::fprintf(stderr, "mervik-sim: no connection, giving up\n");
            QCoreApplication::exit(1);
        });
        client.connectTo(host, port);
    }
    instrument.setStreaming(streamMs);

    return app.exec();
}
