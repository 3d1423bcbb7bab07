// mervik-sim: a simulated weighing instrument on a pseudo-terminal or a TCP connection.

#include "simdata.h"
#include "siminstrument.h"
#include "simmoduletcp.h"
#include "simpty.h"
#include "simtcpclient.h"
#include "simtcpserver.h"
#include "simthreeletterbus.h"
#include "simtibbomodule.h"
#include "simwifimodule.h"
#include "simwire.h"

#include "mervik_version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};
const char QuitByte = 'q';
const char VanishByte = 'v';

void onTerminate(int)
{
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &QuitByte, 1);
}

void onVanish(int)
{
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &VanishByte, 1);
}

// SIGINT and SIGTERM end the event loop normally, so that destructors remove the symlink; SIGUSR1 runs
// vanish (the cable pulled), when there is one.
void handleSignals(QCoreApplication* app, std::function<void()> vanish)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [app, vanish] {
        char byte = 0;
        if (::read(signalPipe[0], &byte, 1) == 1 && byte == VanishByte) {
            if (vanish) {
                vanish();
            }
            return;
        }
        app->quit();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    action.sa_handler = onVanish;
    sigaction(SIGUSR1, &action, nullptr);
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

QHostAddress ipv4Option(const QCommandLineParser& parser, const QString& name, bool emptyAllowed)
{
    const QString text = parser.value(name);
    if (text.isEmpty() && emptyAllowed) {
        return QHostAddress();
    }
    const QHostAddress address(text);
    if (address.protocol() != QAbstractSocket::IPv4Protocol) {
        fail(QStringLiteral("--%1: expected an IPv4 address").arg(name));
    }
    return address;
}

// The module's settings as the --module-* options give them.
SimModuleSettings moduleSettings(const QCommandLineParser& parser)
{
    SimModuleSettings settings;
    const QString mac = parser.value(QStringLiteral("module-mac"));
    const QByteArray macBytes = QByteArray::fromHex(mac.toLatin1());
    if (mac.split(QLatin1Char(':')).size() != 6 || macBytes.size() != 6) {
        fail(QStringLiteral("--module-mac: expected six hexadecimal bytes joined by ':'"));
    }
    settings.mac = macBytes;
    settings.ownAddress = ipv4Option(parser, QStringLiteral("module-address"), true);
    settings.ip = settings.ownAddress;
    settings.netmask = ipv4Option(parser, QStringLiteral("module-netmask"), false);
    settings.gateway = ipv4Option(parser, QStringLiteral("module-gateway"), true);
    const QString dhcp = parser.value(QStringLiteral("module-dhcp"));
    if (dhcp == QLatin1String("leased")) {
        settings.dhcp = true;
    } else if (dhcp == QLatin1String("waiting")) {
        settings.dhcp = true;
        settings.dhcpServer = false;
        settings.ipObtained = false;
        settings.ip = QHostAddress(QHostAddress::AnyIPv4);
    } else if (dhcp != QLatin1String("off")) {
        fail(QStringLiteral("--module-dhcp: expected off, leased or waiting"));
    }
    const QString mode = parser.value(QStringLiteral("module-mode"));
    if (mode != QLatin1String("server") && mode != QLatin1String("client")) {
        fail(QStringLiteral("--module-mode: expected server or client"));
    }
    settings.client = mode == QLatin1String("client");
    settings.port = quint16(integer(parser, QStringLiteral("module-port"), 1, 65535));
    settings.remotePort = parser.isSet(QStringLiteral("module-remote-port"))
                              ? quint16(integer(parser, QStringLiteral("module-remote-port"), 1, 65535))
                              : settings.port;
    settings.remoteIp = ipv4Option(parser, QStringLiteral("module-remote"), true);
    const QString protocol = parser.value(QStringLiteral("module-protocol"));
    if (protocol != QLatin1String("tcp") && protocol != QLatin1String("udp")) {
        fail(QStringLiteral("--module-protocol: expected tcp or udp"));
    }
    settings.udp = protocol == QLatin1String("udp");
    settings.baudRate = integer(parser, QStringLiteral("module-baud"), 1, 10000000);
    if (!SimTibboModule::speeds().contains(settings.baudRate)) {
        fail(QStringLiteral("--module-baud: not a speed the module knows"));
    }
    return settings;
}

SimModule::Fault moduleFault(const QCommandLineParser& parser)
{
    const QString fault = parser.value(QStringLiteral("module-fault"));
    if (fault == QLatin1String("incomplete")) {
        return SimModule::Fault::Incomplete;
    }
    if (fault == QLatin1String("error")) {
        return SimModule::Fault::Error;
    }
    if (fault == QLatin1String("silent")) {
        return SimModule::Fault::Silent;
    }
    if (fault != QLatin1String("none")) {
        fail(QStringLiteral("--module-fault: expected none, incomplete, error or silent"));
    }
    return SimModule::Fault::None;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mervik-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MERVIK_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated weighing instrument speaking the S/M line protocol, or instruments of the\n"
                       "three-letter dialect on one line (--protocol three-letter --address N[,M...]).\n"
                       "Prints \"PTY <slave path>\" or \"TCP <addr>:<port>\" on stdout once it serves.\n"
                       "With --module it sits behind a network module configured over UDP: it prints\n"
                       "\"MODULE <dialect> <addr>:<udp port>\", then \"ROLE server|client <addr>:<port>\"\n"
                       "each time its TCP side starts as the module's settings say."));
    parser.addHelpOption();
    parser.addVersionOption();
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
        {QStringLiteral("stream-numbered"),
         QStringLiteral("Streamed results count 1, 2, 3, ... instead of showing the weight.")},
        {QStringLiteral("delay"), QStringLiteral("Answer after MS ms."), QStringLiteral("MS"),
         QStringLiteral("0")},
        {QStringLiteral("drop"), QStringLiteral("Probability 0..1 of dropping an answer."),
         QStringLiteral("P"), QStringLiteral("0")},
        {QStringLiteral("garble"), QStringLiteral("Probability 0..1 of garbling an answer."),
         QStringLiteral("P"), QStringLiteral("0")},
        {QStringLiteral("seed"), QStringLiteral("Seed for --drop, --garble, --noise and --alibi-garble."),
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
        {QStringLiteral("reappear-after"),
         QStringLiteral(
             "On SIGUSR1 go away as a pulled cable does (the pseudo-terminal closes, or the TCP server "
             "stops and drops its client) and come back after MS milliseconds at the same link path "
             "or port; prints GONE, then PTY or TCP again."),
         QStringLiteral("MS")},
        {QStringLiteral("module"),
         QStringLiteral("Sit behind a network module: wifi (UDP 65534) or tibbo (UDP 65535)."),
         QStringLiteral("wifi|tibbo")},
        {QStringLiteral("module-bind"),
         QStringLiteral("Address the module's UDP socket binds (broadcasts need the default)."),
         QStringLiteral("ADDR"), QStringLiteral("0.0.0.0")},
        {QStringLiteral("module-udp-port"),
         QStringLiteral("UDP port instead of the dialect's own (0 picks one)."), QStringLiteral("N")},
        {QStringLiteral("module-address"),
         QStringLiteral("The module's own address: replies leave from it, the server listens on it."),
         QStringLiteral("ADDR")},
        {QStringLiteral("module-mac"), QStringLiteral("The module's MAC."),
         QStringLiteral("XX:XX:XX:XX:XX:XX"), QStringLiteral("02:00:4d:56:00:01")},
        {QStringLiteral("module-netmask"), QStringLiteral("Configured netmask."), QStringLiteral("MASK"),
         QStringLiteral("255.255.255.0")},
        {QStringLiteral("module-gateway"), QStringLiteral("Configured gateway."), QStringLiteral("ADDR")},
        {QStringLiteral("module-dhcp"),
         QStringLiteral("DHCP: off, leased (own address) or waiting (no server)."),
         QStringLiteral("off|leased|waiting"), QStringLiteral("off")},
        {QStringLiteral("module-mode"), QStringLiteral("TCP role of the module."),
         QStringLiteral("server|client"), QStringLiteral("server")},
        {QStringLiteral("module-port"), QStringLiteral("TCP port (listening port of a server)."),
         QStringLiteral("N"), QStringLiteral("4001")},
        {QStringLiteral("module-remote"), QStringLiteral("Address a client connects to."),
         QStringLiteral("ADDR")},
        {QStringLiteral("module-remote-port"),
         QStringLiteral("Port a client connects to (default: --module-port)."), QStringLiteral("N")},
        {QStringLiteral("module-protocol"), QStringLiteral("Transport protocol setting."),
         QStringLiteral("tcp|udp"), QStringLiteral("tcp")},
        {QStringLiteral("module-baud"), QStringLiteral("Serial speed between module and instrument."),
         QStringLiteral("N"), QStringLiteral("115200")},
        {QStringLiteral("module-fault"), QStringLiteral("Replies cut short, all refused, or none."),
         QStringLiteral("none|incomplete|error|silent"), QStringLiteral("none")},
        {QStringLiteral("module-reboot-ms"), QStringLiteral("How long a rebooting module stays deaf."),
         QStringLiteral("MS"), QStringLiteral("500")},
        {QStringLiteral("module-split-status"),
         QStringLiteral("Tibbo: send the status reply in two datagrams.")},
        {QStringLiteral("module-flood"),
         QStringLiteral(
             "Answer the first status request for N strangers too, before the module's own reply."),
         QStringLiteral("N"), QStringLiteral("0")},
        {QStringLiteral("module-flood-from"),
         QStringLiteral("First address the strangers reply from (an address of this machine)."),
         QStringLiteral("ADDR"), QStringLiteral("127.0.0.1")},
        {QStringLiteral("module-flood-senders"),
         QStringLiteral("How many addresses the strangers share, counting up from --module-flood-from."),
         QStringLiteral("N"), QStringLiteral("1")},
        {QStringLiteral("baud"),
         QStringLiteral("With the pseudo-terminal: understand only what arrives while the line is set to N "
                        "baud (at another speed every byte is garbled)."),
         QStringLiteral("N")},
        {QStringLiteral("wire"),
         QStringLiteral(
             "With the pseudo-terminal: every byte takes its transmission time at the line's speed.")},
    });
    SimData::addOptions(parser);
    SimAlibi::addOptions(parser);
    SimBootloader::addOptions(parser);
    SimThreeLetterBus::addOptions(parser);
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().constFirst()));
    }

    const int transports = int(parser.isSet(QStringLiteral("pty"))) +
                           int(parser.isSet(QStringLiteral("tcp-server"))) +
                           int(parser.isSet(QStringLiteral("tcp-client")));
    const bool useModule = parser.isSet(QStringLiteral("module"));
    if (transports + int(useModule) > 1) {
        fail(QStringLiteral("choose one of --pty, --tcp-server, --tcp-client and --module"));
    }
    const bool usePty = !useModule && (transports == 0 || parser.isSet(QStringLiteral("pty")));
    if (parser.isSet(QStringLiteral("link")) && !usePty) {
        fail(QStringLiteral("--link needs the pseudo-terminal"));
    }
    if (parser.isSet(QStringLiteral("baud")) && !usePty) {
        fail(QStringLiteral("--baud needs the pseudo-terminal"));
    }
    if (parser.isSet(QStringLiteral("wire")) && !usePty) {
        fail(QStringLiteral("--wire needs the pseudo-terminal"));
    }
    const int lineBaud =
        parser.isSet(QStringLiteral("baud")) ? integer(parser, QStringLiteral("baud"), 1, 10000000) : 0;

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
    QString configError;
    if (!instrument.data()->applyOptions(parser, &configError) ||
        !instrument.alibi().configure(parser, &configError) ||
        !instrument.bootloader().configure(parser, &configError)) {
        fail(configError);
    }
    // Instruments of the three-letter dialect take the line's traffic instead of the S/M instrument.
    SimThreeLetterBus bus;
    const QString protocol = parser.value(QStringLiteral("protocol"));
    const bool threeLetter = protocol == QLatin1String("three-letter");
    if (!threeLetter && protocol != QLatin1String("line")) {
        fail(QStringLiteral("--protocol: expected line or three-letter"));
    }
    for (const char* option :
         {"module", "stream", "delay", "drop", "garble", "silent-after", "noise", "generation"}) {
        if (threeLetter && parser.isSet(QLatin1String(option))) {
            fail(QStringLiteral("--protocol three-letter: not with --%1").arg(QLatin1String(option)));
        }
    }
    if (threeLetter && !bus.configure(parser, &configError)) {
        fail(configError);
    }
    const auto feed = [&](const QByteArray& bytes) {
        threeLetter ? bus.feed(bytes) : instrument.feed(bytes);
    };
    const auto resetInput = [&] { threeLetter ? bus.resetInput() : instrument.resetInput(); };
    const int streamMs =
        parser.isSet(QStringLiteral("stream")) ? integer(parser, QStringLiteral("stream"), 1, 3600000) : 0;
    if (parser.isSet(QStringLiteral("max-seconds"))) {
        const double seconds = number(parser, QStringLiteral("max-seconds"), 0.001, 31 * 24 * 3600.0);
        QTimer::singleShot(qint64(seconds * 1000), Qt::CoarseTimer, &app, &QCoreApplication::quit);
    }

    SimPty pty;
    SimTcpServer server;
    // Takes the instrument off its line and returns what brings it back.
    std::function<std::function<void()>()> vanish;
    SimTcpClient client;
    std::unique_ptr<SimModule> module;
    SimModuleTcp moduleTcp(&instrument);
    if (useModule) {
        const QString dialect = parser.value(QStringLiteral("module"));
        const SimModuleSettings settings = moduleSettings(parser);
        if (dialect == QLatin1String("wifi")) {
            module = std::make_unique<SimWifiModule>(settings);
        } else if (dialect == QLatin1String("tibbo")) {
            auto tibbo = std::make_unique<SimTibboModule>(settings);
            tibbo->setRebootTime(integer(parser, QStringLiteral("module-reboot-ms"), 0, 600000));
            tibbo->setSplitStatus(parser.isSet(QStringLiteral("module-split-status")));
            module = std::move(tibbo);
        } else {
            fail(QStringLiteral("--module: expected wifi or tibbo"));
        }
        module->setFault(moduleFault(parser));
        module->setFlood(integer(parser, QStringLiteral("module-flood"), 0, 100000),
                         ipv4Option(parser, QStringLiteral("module-flood-from"), false),
                         integer(parser, QStringLiteral("module-flood-senders"), 1, 65536));
        module->setVerbose(parser.isSet(QStringLiteral("verbose")));
        const QHostAddress bindAddress = ipv4Option(parser, QStringLiteral("module-bind"), false);
        const quint16 udpPort = parser.isSet(QStringLiteral("module-udp-port"))
                                    ? quint16(integer(parser, QStringLiteral("module-udp-port"), 0, 65535))
                                    : module->defaultPort();
        QString error;
        if (!module->listen(bindAddress, udpPort, &error)) {
            fail(QStringLiteral("--module: %1").arg(error), 1);
        }
        SimModule* m = module.get();
        QObject::connect(m, &SimModule::roleApplied, &app, [m, &moduleTcp] {
            printLine(QStringLiteral("ROLE ") + moduleTcp.apply(m->settings()));
        });
        printLine(QStringLiteral("MODULE %1 %2")
                      .arg(QString::fromLatin1(m->dialectName()), hostPortText(bindAddress, m->port())));
        printLine(QStringLiteral("ROLE ") + moduleTcp.apply(m->settings()));
    } else if (usePty) {
        QString error;
        if (!pty.open(&error)) {
            fail(error, 1);
        }
        if (parser.isSet(QStringLiteral("link")) &&
            !pty.createLink(parser.value(QStringLiteral("link")), &error)) {
            fail(error, 1);
        }
        // Without --wire the bytes pass at once.
        auto* wire = new SimWire(
            [&pty, paced = parser.isSet(QStringLiteral("wire"))] { return paced ? pty.lineSpeed() : 0; },
            &app);
        QObject::connect(&pty, &SimPty::received, wire,
                         [&pty, &instrument, lineBaud, wire](const QByteArray& bytes) {
                             // Read at the wrong speed, a line is noise that the instrument cannot take for a
                             // command.
                             if (lineBaud == 0 || pty.lineSpeed() == instrument.lineBaud(lineBaud)) {
                                 wire->fromHost(bytes);
                             }
                         });
        QObject::connect(wire, &SimWire::toInstrument, &app, feed);
        QObject::connect(&instrument, &SimInstrument::output, wire, &SimWire::fromInstrument);
        QObject::connect(&bus, &SimThreeLetterBus::output, wire, &SimWire::fromInstrument);
        QObject::connect(wire, &SimWire::toHost, &pty, &SimPty::write);
        printLine(QStringLiteral("PTY ") + pty.slavePath());
        vanish = [&pty, link = parser.value(QStringLiteral("link"))] {
            pty.close();
            return std::function<void()>([&pty, link] {
                QString error;
                if (!pty.open(&error) || (!link.isEmpty() && !pty.createLink(link, &error))) {
                    fail(error, 1);
                }
                printLine(QStringLiteral("PTY ") + pty.slavePath());
            });
        };
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
        QObject::connect(&server, &SimTcpServer::clientConnected, &app, resetInput);
        QObject::connect(&server, &SimTcpServer::received, &app, feed);
        QObject::connect(&instrument, &SimInstrument::output, &server, &SimTcpServer::write);
        QObject::connect(&bus, &SimThreeLetterBus::output, &server, &SimTcpServer::write);
        printLine(QStringLiteral("TCP ") + hostPortText(server.address(), server.port()));
        vanish = [&server, address, port = server.port()] {
            server.close();
            return std::function<void()>([&server, address, port] {
                QString error;
                if (!server.listen(address, port, &error)) {
                    fail(QStringLiteral("--reappear-after: %1").arg(error), 1);
                }
                printLine(QStringLiteral("TCP ") + hostPortText(server.address(), server.port()));
            });
        };
    } else {
        QString host;
        quint16 port = 0;
        if (!splitHostPort(parser.value(QStringLiteral("tcp-client")), true, &host, &port) || port == 0) {
            fail(QStringLiteral("--tcp-client: expected HOST:PORT"));
        }
        QObject::connect(&client, &SimTcpClient::connected, &app, resetInput);
        QObject::connect(&client, &SimTcpClient::received, &app, feed);
        QObject::connect(&instrument, &SimInstrument::output, &client, &SimTcpClient::write);
        QObject::connect(&bus, &SimThreeLetterBus::output, &client, &SimTcpClient::write);
        QObject::connect(&client, &SimTcpClient::gaveUp, &app, [] {
            std::fprintf(stderr, "mervik-sim: no connection, giving up\n");
            QCoreApplication::exit(1);
        });
        client.connectTo(host, port);
    }
    instrument.setStreamNumbered(parser.isSet(QStringLiteral("stream-numbered")));
    instrument.setStreaming(streamMs);

    std::function<void()> onVanishSignal;
    if (parser.isSet(QStringLiteral("reappear-after"))) {
        if (!vanish) {
            fail(QStringLiteral("--reappear-after needs the pseudo-terminal or --tcp-server"));
        }
        const int pauseMs = integer(parser, QStringLiteral("reappear-after"), 0, 3600000);
        onVanishSignal = [&app, vanish, pauseMs] {
            printLine(QStringLiteral("GONE"));
            QTimer::singleShot(pauseMs, &app, vanish());
        };
    }
    handleSignals(&app, onVanishSignal);

    return app.exec();
}
