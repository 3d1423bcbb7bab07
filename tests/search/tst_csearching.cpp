// Searches as the program runs them, in a worker thread of their own: over pseudo-terminals with
// mervik-sim behind them, and over the network inside two namespaces, the computer (this test's
// thread, and so the search's threads) in one and mervik-sim's modules in the other.
#include "device/cdevice.h"
#include "device/cmervikmanagerfactory.h"
#include "interface/cinterfacemodule.h"
#include "platform/queuedcall.h"
#include "search/csearching.h"
#include "support/ptypair.h"
#include "support/simprocess.h"
#include "support/testnetns.h"

#include <QtTest>

#include <sys/resource.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr int SearchBoundMs = 20000;

class Factory : public CMervikManagerFactory
{
public:
    Factory(bool serial, bool network, QVector<int> baudRates = {9600, 115200})
    {
        m_options.searchSerial = serial;
        m_options.searchNetwork = network;
        m_baudRates = std::move(baudRates);
    }
};

// One found device as the test compares it: where, and who it is or why it cannot be reached.
QString describe(CDevice* device)
{
    QString text = device->interfaceDescription() + QStringLiteral(": ");
    text += device->unreachableReasons().isEmpty()
                ? device->model() + QStringLiteral(" | ") + device->serialNumber()
                : device->reasonText();
    if (device->module()) {
        text += QStringLiteral(" via ") + device->module()->localAddress().toString();
    }
    return text;
}

// Lowers this process's limit of open files to what is open now plus room, for one scope.
struct FileLimit
{
    explicit FileLimit(int room)
    {
        getrlimit(RLIMIT_NOFILE, &saved);
        rlimit lowered = saved;
        lowered.rlim_cur = rlim_t(QDir(QStringLiteral("/proc/self/fd")).count() + room);
        ok = lowered.rlim_cur < saved.rlim_cur && setrlimit(RLIMIT_NOFILE, &lowered) == 0;
    }
    ~FileLimit() { setrlimit(RLIMIT_NOFILE, &saved); }
    rlimit saved{};
    bool ok = false;
};

QStringList sorted(QStringList texts)
{
    texts.sort();
    return texts;
}

} // namespace

// A searcher in its own thread, and what it reported, collected in the test's thread.
class Search : public QObject
{
    Q_OBJECT
public:
    // The program's factory, searching only what the test wants.
    Search(bool serial, bool network, QVector<int> baudRates = {9600, 115200})
        : factory(serial, network, std::move(baudRates))
    {
        searching = new CSearching(&factory);
        searching->setNetworkWait(1500);
        searching->moveToThread(&thread);
        connect(&thread, &QThread::finished, searching, &QObject::deleteLater);
        connect(searching, &CSearching::newLogLine, this, [this](const QString& line) { log << line; });
        connect(searching, &CSearching::progressChanged, this, [this](int value) { progress << value; });
        connect(searching, &CSearching::searchingFinished, this, [this] { ++finished; });
        // A found device is read in the searcher's thread, where it lives.
        connect(
            searching, &CSearching::newDeviceFound, searching,
            [this](CDevice* device) {
                const QString text = describe(device);
                queueCall(this, [this, text] { found << text; });
            },
            Qt::DirectConnection);
        thread.start();
    }
    ~Search() override
    {
        searching->stopSearching();
        thread.quit();
        thread.wait(SearchBoundMs);
    }

    void start()
    {
        CSearching* s = searching;
        queueCall(s, [s] { s->search(); });
    }
    // Progress starts at 0 once per search, never falls, and reaches 100 once, at the end.
    QString progressFault() const
    {
        QString text;
        if (progress.value(0, -1) != 0 || progress.count(100) != 1 || progress.last() != 100 ||
            !std::is_sorted(progress.begin(), progress.end())) {
            QDebug(&text) << "progress" << progress;
        }
        return text;
    }

    Factory factory;
    QThread thread;
    CSearching* searching = nullptr;
    QStringList log;
    QList<int> progress;
    QStringList found;
    int finished = 0;
};

class TstCSearching : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void serialScan();
    void stopEndsEveryProbe();
    void networkScan_data();
    void networkScan();
    void floodOfStrangers();

private:
    TestNetns m_netns{QStringLiteral(MERVIK_SIM_PATH)};
};

void TstCSearching::initTestCase()
{
    // The searches' threads are created in the tests, after this thread entered the namespace.
    m_netns.enter();
}

void TstCSearching::init()
{
    // Whatever a test forgets, no search here touches the machine's own ports or interfaces.
    qputenv("MERVIK_SERIAL_PORTS", "");
    qputenv("MERVIK_SEARCH_INTERFACES", "");
}

void TstCSearching::serialScan()
{
    // mervik-sim's options, or "silent" for a port nobody answers.
    const QStringList ports{
        "--baud 9600 --model CUR-9600 --serial 1001 --production-date 2021-03-04 --firmware 1.04.7",
        "--baud 115200 --model CUR-115200 --serial 1002", "--baud 115200 --generation old", "silent",
        "--garble 1"};
    // %1, %2, ...: the ports in order. Garbled answers pass for an older instrument's result, never for an
    // identity.
    const QStringList found{"%1 (Serial port,9600): CUR-9600 | 1001",
                            "%2 (Serial port,115200): CUR-115200 | 1002", "%3 (Serial port,115200):  | "};
    const QStringList lines{"%1 (Serial port,9600): CUR-9600 | 1001 | 2021-03-04 | 1.04.7\n",
                            "%4 (Serial port,115200): Device does not respond\n",
                            "%5 (Serial port,9600): Device does not respond to SW9\n"};
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<std::unique_ptr<PtyPair>> silent;
    QStringList paths;
    for (const QString& port : ports) {
        if (port == QLatin1String("silent")) {
            silent.push_back(std::make_unique<PtyPair>());
            QVERIFY(silent.back()->isValid());
            paths << silent.back()->slavePath();
        } else {
            sims.push_back(std::make_unique<SimProcess>());
            paths << sims.back()->startPty(port.split(QLatin1Char(' ')));
            QVERIFY(!paths.last().isEmpty());
        }
    }
    // Qt names a port by its path below /dev.
    const auto named = [&paths](QStringList texts) {
        for (int i = 0; i < paths.size(); ++i) {
            texts.replaceInStrings(QLatin1Char('%') + QString::number(i + 1), paths.at(i).mid(5));
        }
        return texts;
    };
    qputenv("MERVIK_SERIAL_PORTS", paths.join(QLatin1Char(':')).toLocal8Bit());
    Search run(true, false);
    run.start();
    // The instruments answer at once, the silent port keeps the search busy for seconds: a second search
    // meanwhile is refused at once, without touching the running one.
    QTRY_VERIFY_WITH_TIMEOUT(!run.found.isEmpty(), SearchBoundMs);
    QCOMPARE(run.finished, 0);
    run.start();
    QTRY_COMPARE_WITH_TIMEOUT(run.finished, 2, SearchBoundMs);

    QCOMPARE(sorted(run.found), sorted(named(found)));
    for (const QString& line : named(lines)) {
        QVERIFY2(run.log.contains(line), qPrintable(line));
    }
    // The search ends by saying what it found where; the refused one says nothing.
    QCOMPARE(run.log.filter(QStringLiteral("instrument")),
             QStringList{QStringLiteral("Search finished: 3 instruments found. Searched serial ports: ") +
                         paths.join(QStringLiteral(", ")) + QStringLiteral("; network interfaces: none.\n")});
    QVERIFY2(run.progressFault().isEmpty(), qPrintable(run.progressFault()));
    // The searcher holds what it reported.
    QStringList kept;
    waitForCall(run.searching, [&run, &kept] {
        for (int i = 0; i < run.searching->deviceCount(); ++i) {
            kept << describe(run.searching->device(i));
        }
    });
    QCOMPARE(sorted(kept), sorted(run.found));
}

void TstCSearching::stopEndsEveryProbe()
{
    // Two silent ports would keep their probes busy for about ten seconds at these speeds; the third
    // answers the echo and then never its identity, whose reading takes seconds more.
    PtyPair ports[3];
    QStringList paths;
    for (PtyPair& port : ports) {
        QVERIFY(port.isValid());
        paths << port.slavePath();
    }
    PtyPair& echoOnly = ports[2];
    connect(&echoOnly, &PtyPair::dataReceived, this, [&echoOnly] {
        if (echoOnly.received().endsWith("SJ\r\n")) {
            echoOnly.write("MJ\r\n");
        }
    });
    qputenv("MERVIK_SERIAL_PORTS", paths.join(QLatin1Char(':')).toLocal8Bit());
    Search run(true, false,
               {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 9600, 115200, 9600});
    run.start();
    QTRY_VERIFY_WITH_TIMEOUT(!ports[0].received().isEmpty() && !ports[1].received().isEmpty() &&
                                 echoOnly.received().contains("SW9\r\n"),
                             5000);
    // As the search controller does: directly, from another thread.
    run.searching->stopSearching();
    QTRY_COMPARE_WITH_TIMEOUT(run.finished, 1, 3000);
    QCOMPARE(run.log.filter(QStringLiteral(": Stopped searching\n")).size(), 3);
    QVERIFY(run.found.isEmpty());
    QCOMPARE(run.log.last(), QStringLiteral("Search stopped: no instrument found. Searched serial ports: ") +
                                 paths.join(QStringLiteral(", ")) +
                                 QStringLiteral("; network interfaces: none.\n"));
    QVERIFY2(run.progressFault().isEmpty(), qPrintable(run.progressFault()));

    // No probe is left running: the next search is taken, and with no port and no network it ends at once.
    qputenv("MERVIK_SERIAL_PORTS", "");
    run.progress.clear();
    run.start();
    QTRY_COMPARE_WITH_TIMEOUT(run.finished, 2, 5000);
    QCOMPARE(run.progress, (QList<int>{0, 100}));
    QCOMPARE(run.log.last(),
             QStringLiteral("No instrument found. Searched serial ports: none; network interfaces: none.\n"));
}

void TstCSearching::networkScan_data()
{
    QTest::addColumn<QString>("interfaces");
    QTest::addColumn<QList<QStringList>>("modules"); // mervik-sim's options, {KEY} for the namespaces' values
    QTest::addColumn<QStringList>("found");
    QTest::addColumn<QStringList>("lines"); // reported among others

    // mervik-sim's module of that dialect at B with MAC ...:01:NN and port 41NN, and more options (a
    // later option wins).
    const auto module = [](const char* dialect, int n, const QStringList& more = {}) {
        return QStringList{
                   "--module",         dialect,
                   "--module-address", "{B_ADDR}",
                   "--module-mac",     QStringLiteral("02:00:4d:56:01:%1").arg(n, 2, 10, QLatin1Char('0')),
                   "--module-port",    QString::number(4100 + n)} +
               more;
    };
    const auto row = [](const char* name, const QList<QStringList>& modules, const QStringList& found,
                        const QStringList& lines, const char* interfaces = "veth0") {
        QTest::newRow(name) << QString::fromLatin1(interfaces) << modules << found << lines;
    };
    const QStringList dialsIn{"--module-mode", "client",       "--module-remote",
                              "{A_ADDR}",      "--module-mac", "{B_MAC}"};
    const QStringList veth0{"veth0: ", "  {A_ADDR}"};
    const QString far =
        "LAN ({B_FAR_ADDR},4106): Device not reachable (address set in device not in local subnet)";

    row("Tibbo and Wi-Fi (older instrument), instrument as server",
        {module("tibbo", 1,
                {"--model", "T-SRV", "--serial", "11", "--production-date", "2020-01-02", "--firmware",
                 "2.3.4"}),
         module("wifi", 2, {"--generation", "old"})},
        {"LAN ({B_ADDR},4101): T-SRV | 11 via {A_ADDR}", "LAN ({B_ADDR},4102):  |  via {A_ADDR}"},
        veth0 + QStringList{"LAN ({B_ADDR},4101): NM=255.255.255.0 TP=TCP RM=server BR=115200\n",
                            "LAN ({B_ADDR},4101): T-SRV | 11 | 2020-01-02 | 2.3.4\n"});
    row("Tibbo, instrument dials in",
        {module("tibbo", 3, dialsIn + QStringList{"--model", "T-CLI", "--serial", "13"})},
        {"LAN Server ({A_ADDR},4103): T-CLI | 13 via {A_ADDR}"},
        veth0 + QStringList{"LAN Server ({A_ADDR},4103): NM=255.255.255.0 TP=TCP RM=client BR=115200\n"});
    row("outside the subnet: listed with the reason; a Wi-Fi status never complete",
        {module("tibbo", 6, {"--module-address", "{B_FAR_ADDR}"}),
         module("wifi", 7, {"--module-fault", "incomplete"})},
        {far + " via {A_ADDR}"}, veth0 + QStringList{far + "\n"});
    row("no address from DHCP: listed with the reason; a Tibbo status never complete",
        {module("tibbo", 8, {"--module-fault", "incomplete"}),
         module("wifi", 9, {"--module-dhcp", "waiting"})},
        {"LAN ({B_ADDR},4109): Device not reachable (address not obtained from DHCP server) via {A_ADDR}"},
        veth0);
    row("one module heard on two interfaces, its status in two datagrams, reached in its subnet",
        {module("tibbo", 10, {"--module-split-status", "--model", "T-TWO", "--serial", "20"})},
        {"LAN ({B_ADDR},4110): T-TWO | 20 via {A_ADDR}"},
        {"veth0: ", "  {A_ADDR}", "veth1: ", "  {A_ADDR2}",
         "Search finished: 1 instrument found. Searched serial ports: none; network interfaces: veth0, "
         "veth1.\n"},
        "veth0,veth1");
}

void TstCSearching::networkScan()
{
    REQUIRE_NETNS(m_netns);
    QFETCH(QString, interfaces);
    QFETCH(QList<QStringList>, modules);
    QFETCH(QStringList, found);
    QFETCH(QStringList, lines);
    const auto expand = [this](QStringList texts) {
        for (const char* key : {"A_ADDR", "A_ADDR2", "B_ADDR", "B_FAR_ADDR", "B_MAC"}) {
            texts.replaceInStrings(QLatin1Char('{') + QLatin1String(key) + QLatin1Char('}'),
                                   m_netns.value(QLatin1String(key)));
        }
        return texts;
    };
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (const QStringList& options : modules) {
        sims.push_back(std::make_unique<SimProcess>());
        QVERIFY(m_netns.startSim(*sims.back(), expand(options)) &&
                !sims.back()->waitForLine("ROLE ").isEmpty());
    }
    qputenv("MERVIK_SEARCH_INTERFACES", interfaces.toLocal8Bit());
    Search run(false, true);
    run.start();
    QTRY_COMPARE_WITH_TIMEOUT(run.finished, 1, SearchBoundMs);

    QCOMPARE(sorted(run.found), sorted(expand(found)));
    const QStringList expectedLines = expand(lines);
    for (const QString& line : expectedLines) {
        QVERIFY2(run.log.contains(line), qPrintable(line));
    }
    // The search went through the named interfaces of the namespace and nothing else.
    const QRegularExpression scanned(QStringLiteral("^(\\S+: |  \\S+)$"));
    QCOMPARE(run.log.filter(scanned), expectedLines.filter(scanned));
    QVERIFY2(run.progressFault().isEmpty(), qPrintable(run.progressFault()));
}

void TstCSearching::floodOfStrangers()
{
    REQUIRE_NETNS(m_netns);
    // 1,200 status replies from 300 addresses outside the subnet (four MACs each, the first one
    // counts), and then the real module's.
    constexpr int Senders = 300;
    SimProcess sim;
    QVERIFY(m_netns.startSim(sim, {"--module", "wifi", "--module-address", m_netns.value("B_ADDR"),
                                   "--module-mac", "02:00:4d:56:01:31", "--module-port", "4131", "--model",
                                   "W-REAL", "--serial", "31", "--module-flood", "1200",
                                   "--module-flood-from", m_netns.value("FLOOD_FROM"),
                                   "--module-flood-senders", QString::number(Senders), "--verbose"}) &&
            !sim.waitForLine("ROLE ").isEmpty());
    qputenv("MERVIK_SEARCH_INTERFACES", "veth0");
    // Far fewer descriptors than strangers, as with thousands of them under the usual limit.
    const FileLimit limit(96);
    QVERIFY(limit.ok);
    Search run(false, true);
    run.start();
    QTRY_COMPARE_WITH_TIMEOUT(run.finished, 1, 40000);

    QCOMPARE(run.found, QStringList{QStringLiteral("LAN (%1,4131): W-REAL | 31 via %2")
                                        .arg(m_netns.value("B_ADDR"), m_netns.value("A_ADDR"))});
    // Each stranger's address was asked about the MAC it claimed first (numbers below Senders) only.
    QByteArray traffic;
    QSet<QByteArray> asked;
    const QRegularExpression select(QStringLiteral("^wifi <- AT\\+ASELECT=02:FF:(\\S+)\\\\r\\\\n$"),
                                    QRegularExpression::MultilineOption);
    const auto allAsked = [&] {
        traffic += sim.errors();
        auto match = select.globalMatch(QString::fromLatin1(traffic));
        while (match.hasNext()) {
            asked << match.next().captured(1).remove(QLatin1Char(':')).toLatin1();
        }
        return asked.size() >= Senders;
    };
    QTRY_VERIFY_WITH_TIMEOUT(allAsked(), 5000);
    QCOMPARE(asked.size(), Senders);
    for (const QByteArray& number : qAsConst(asked)) {
        QVERIFY2(number.toUInt(nullptr, 16) < uint(Senders), number.constData());
    }
}

QTEST_GUILESS_MAIN(TstCSearching)
#include "tst_csearching.moc"
