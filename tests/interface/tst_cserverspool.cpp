// The servers pool and the TCP server transport. The hand-over by MAC runs inside two network
// namespaces: the instruments are mervik-sim processes in the second one, reaching the first over
// veth pairs whose real hardware addresses the pool learns.
#include "interface/clanserver.h"
#include "interface/cserverspool.h"
#include "platform/procarpresolver.h"
#include "support/testnetns.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>

namespace {

QList<int> states(const QSignalSpy& spy)
{
    QList<int> values;
    for (const QList<QVariant>& args : spy) {
        values << args.at(0).toInt();
    }
    return values;
}

// Sends a line through a transport and gives the answer.
QString ask(CInterface& transport, const QByteArray& line)
{
    QString answer;
    return transport.write(line) && transport.waitAndRead(answer, 3000) ? answer : QString();
}

constexpr int L = CInterface::StateListening;
constexpr int C = CInterface::StateConnected;

} // namespace

class TstCServersPool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_netns.enter(); }
    void cleanup()
    {
        delete CServersPool::instance();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void poolInstanceIsReplaced();
    void transportWithoutPool();
    void macFromNeighbourTable_data();
    void macFromNeighbourTable();

    void twoTransportsShareOnePort();
    void unexpectedPeersAreClosed();
    void adoptionIntoAnotherThread();

private:
    // An instrument dialling the computer's address under key.
    bool dialIn(ChildProcess& instrument, const char* key, int port, const QStringList& extra = {})
    {
        return m_netns.startSim(instrument, QStringList{"--tcp-client", m_netns.target(key, port)} + extra);
    }

    TestNetns m_netns{QStringLiteral(MERVIK_SIM_PATH)};
};

void TstCServersPool::poolInstanceIsReplaced()
{
    QCOMPARE(CServersPool::instance(), nullptr);
    QPointer<CServersPool> first = new CServersPool;
    auto* second = new CServersPool;
    QCOMPARE(CServersPool::instance(), second);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(first.isNull());
    // The old pool's end must not take its successor off the books.
    QCOMPARE(CServersPool::instance(), second);
    delete second;
    QCOMPARE(CServersPool::instance(), nullptr);
}

void TstCServersPool::transportWithoutPool()
{
    CLANServer server(QHostAddress("10.0.0.5"), 1001, "00-1a-2b-3c-4d-5e");
    QCOMPARE(server.description(), QStringLiteral("LAN Server (10.0.0.5,1001)"));
    QSignalSpy stateSpy(&server, &CInterface::stateChanged);
    // Nothing can listen, nothing is connected.
    QVERIFY(!server.open());
    QVERIFY(!server.write(QStringLiteral("SI\r\n")));
    QVERIFY(!server.write(QByteArray("SI\r\n")));
    QByteArray bytes;
    QString text;
    QCOMPARE(server.read(bytes) + server.read(text), 0);
    QVERIFY(!server.waitAndRead(text, 10));
    QVERIFY(!server.waitForReadyRead(10));
    server.clear();
    QVERIFY(server.close());
    QCOMPARE(states(stateSpy), QList<int>({CInterface::StateDisconnected, CInterface::StateDisconnected}));

    std::unique_ptr<CInterface> copy(server.clone(nullptr));
    QCOMPARE(qobject_cast<CLANServer*>(copy.get())->mac(), QByteArray("00-1a-2b-3c-4d-5e"));
    QCOMPARE(copy->description(), server.description());

    // A pool in a thread that takes no more events: a blocking call into it would never return.
    QThread gone;
    (new CServersPool)->moveToThread(&gone);
    gone.start();
    gone.quit();
    QVERIFY(gone.wait(5000));
    stateSpy.clear();
    QVERIFY(!server.open());
    QCOMPARE(states(stateSpy), QList<int>{CInterface::StateDisconnected});
}

void TstCServersPool::macFromNeighbourTable_data()
{
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QByteArray>("mac");

    const auto entry = [](const char* ip, const char* flags, const char* mac, const char* device) {
        return QByteArray(ip) + "       0x1         " + flags + "         " + mac + "     *   " + device +
               "\n";
    };
    const QByteArray header =
        "IP address       HW type     Flags       HW address            Mask     Device\n";
    const QByteArray known = header + entry("10.231.0.2", "0x2", "BE:5e:88:72:43:fa", "veth0");
    const QByteArray pending = header + entry("10.231.0.3", "0x0", "00:00:00:00:00:00", "veth0");
    QTest::newRow("complete entry") << known << "10.231.0.2" << QByteArray("be-5e-88-72-43-fa");
    QTest::newRow("other address") << header + entry("10.231.0.20", "0x2", "be:5e:88:72:43:fa", "veth0")
                                   << "10.231.0.2" << QByteArray();
    QTest::newRow("resolution pending") << pending << "10.231.0.3" << QByteArray();
    QTest::newRow("second interface") << pending + entry("10.231.0.3", "0x2", "02:00:4d:56:00:01", "veth1")
                                      << "10.231.0.3" << QByteArray("02-00-4d-56-00-01");
    QTest::newRow("garbage") << QByteArray("10.231.0.2 0x1 0x2\n\n\x01\x02") << "10.231.0.2" << QByteArray();
}

void TstCServersPool::macFromNeighbourTable()
{
    QFETCH(QByteArray, table);
    QFETCH(QString, ip);
    QFETCH(QByteArray, mac);
    QCOMPARE(ProcArpResolver::macFromTable(table, ip), mac);
}

void TstCServersPool::twoTransportsShareOnePort()
{
    REQUIRE_NETNS(m_netns);
    auto* pool = new CServersPool;
    const QByteArray mac1 = m_netns.arpMac("B_MAC");
    const QByteArray mac2 = m_netns.arpMac("B_MAC2");
    CLANServer first(m_netns.address("B_ADDR"), 4100, mac1);
    CLANServer second(m_netns.address("B_ADDR2"), 4100, mac2);
    QSignalSpy firstStates(&first, &CInterface::stateChanged);
    QSignalSpy secondStates(&second, &CInterface::stateChanged);
    QVERIFY(first.open());
    QVERIFY(second.open());
    QCOMPARE(pool->serverCount(), 1);
    QCOMPARE(pool->awaited(), QList<QByteArray>({mac1, mac2}));

    // The instrument on the second link reaches the shared port; only its own transport takes it.
    ChildProcess secondInstrument;
    QVERIFY(dialIn(secondInstrument, "A_ADDR2", 4100, {"--weight", "222"}));
    QTRY_COMPARE_WITH_TIMEOUT(states(secondStates), QList<int>({L, C}), 5000);
    QCOMPARE(states(firstStates), QList<int>{L});
    QCOMPARE(pool->awaited(), QList<QByteArray>{mac1});
    QVERIFY(ask(second, "SI\r\n").contains(QLatin1String("222")));

    ChildProcess firstInstrument;
    QVERIFY(dialIn(firstInstrument, "A_ADDR", 4100, {"--weight", "111"}));
    QTRY_COMPARE_WITH_TIMEOUT(states(firstStates), QList<int>({L, C}), 5000);
    QVERIFY(ask(first, "SI\r\n").contains(QLatin1String("111")));
    QVERIFY(ask(second, "SI\r\n").contains(QLatin1String("222")));

    // Every awaited MAC served: nothing listens any more.
    QCOMPARE(pool->serverCount(), 0);
    QTcpSocket late;
    late.connectToHost(QHostAddress(QHostAddress::LocalHost), 4100);
    QVERIFY(!late.waitForConnected(3000));

    // The first instrument drops: its transport listens again, and takes the instrument back.
    firstInstrument.stop();
    QTRY_COMPARE_WITH_TIMEOUT(states(firstStates), QList<int>({L, C, L}), 5000);
    QCOMPARE(pool->serverCount(), 1);
    QCOMPARE(pool->awaited(), QList<QByteArray>{mac1});
    ChildProcess firstAgain;
    QVERIFY(dialIn(firstAgain, "A_ADDR", 4100, {"--weight", "333"}));
    QTRY_COMPARE_WITH_TIMEOUT(states(firstStates), QList<int>({L, C, L, C}), 5000);
    QVERIFY(ask(first, "SI\r\n").contains(QLatin1String("333")));
    QCOMPARE(states(secondStates), QList<int>({L, C}));
}

void TstCServersPool::unexpectedPeersAreClosed()
{
    REQUIRE_NETNS(m_netns);
    auto* pool = new CServersPool;
    const QByteArray mac1 = m_netns.arpMac("B_MAC");
    CLANServer first(m_netns.address("B_ADDR"), 4101, mac1);
    QSignalSpy firstStates(&first, &CInterface::stateChanged);
    QVERIFY(first.open());

    // A known MAC that nobody awaits: closed at once, so the peer sees its end of the stream.
    ChildProcess stranger;
    QVERIFY(m_netns.startInB(stranger, "socat", {"-u", "TCP:" + m_netns.target("A_ADDR2", 4101), "STDOUT"}));
    // Waited for in the event loop, which is where the pool accepts and closes the connection.
    QTRY_COMPARE_WITH_TIMEOUT(stranger.process.state(), QProcess::NotRunning, 5000);
    QCOMPARE(stranger.process.exitCode(), 0);

    // A peer whose MAC cannot be learnt (loopback has no neighbours): closed too.
    QTcpSocket local;
    QSignalSpy localGone(&local, &QTcpSocket::disconnected);
    local.connectToHost(QHostAddress(QHostAddress::LocalHost), 4101);
    QVERIFY(local.waitForConnected(3000));
    QVERIFY(localGone.wait(3000));
    QCOMPARE(states(firstStates), QList<int>{L});
    QCOMPARE(pool->awaited(), QList<QByteArray>{mac1});

    // The same MAC awaited twice: one connection goes to one transport, the port stays open.
    CLANServer twin(m_netns.address("B_ADDR"), 4101, mac1);
    QSignalSpy twinStates(&twin, &CInterface::stateChanged);
    QVERIFY(twin.open());
    ChildProcess instrument;
    QVERIFY(dialIn(instrument, "A_ADDR", 4101));
    QTRY_COMPARE_WITH_TIMEOUT(firstStates.size() + twinStates.size(), 3, 5000);
    QCOMPARE(states(firstStates), QList<int>({L, C}));
    QCOMPARE(states(twinStates), QList<int>{L});
    QCOMPARE(pool->awaited(), QList<QByteArray>{mac1});
    QCOMPARE(pool->serverCount(), 1);
}

void TstCServersPool::adoptionIntoAnotherThread()
{
    REQUIRE_NETNS(m_netns);
    // Made before the pool: the transport finds it when it opens.
    auto* transport = new CLANServer(m_netns.address("B_ADDR"), 4104, m_netns.arpMac("B_MAC"));
    new CServersPool;
    QThread worker;
    transport->moveToThread(&worker);
    QList<int> seen;
    connect(transport, &CInterface::stateChanged, this, [&seen](int state) { seen << state; });
    worker.start();
    QMetaObject::invokeMethod(transport, [transport] { transport->open(); });
    QTRY_COMPARE(seen, QList<int>{L});

    ChildProcess instrument;
    QVERIFY(dialIn(instrument, "A_ADDR", 4104));
    QTRY_COMPARE_WITH_TIMEOUT(seen, QList<int>({L, C}), 5000);
    // The connection works from the transport's own thread.
    QString answer;
    QMetaObject::invokeMethod(
        transport, [transport, &answer] { answer = ask(*transport, "SJ\r\n"); },
        Qt::BlockingQueuedConnection);
    QCOMPARE(answer, QStringLiteral("MJ\r\n"));

    instrument.stop();
    QTRY_COMPARE_WITH_TIMEOUT(seen, QList<int>({L, C, L}), 5000);
    QMetaObject::invokeMethod(
        transport, [transport] { delete transport; }, Qt::BlockingQueuedConnection);
    worker.quit();
    QVERIFY(worker.wait(5000));
}

QTEST_GUILESS_MAIN(TstCServersPool)
#include "tst_cserverspool.moc"
