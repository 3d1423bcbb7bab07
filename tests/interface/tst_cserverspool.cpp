// The servers pool and the TCP server transport. The hand-over by MAC runs inside two network
// namespaces (scripts/test-netns.sh): the instruments are mervik-sim processes in the second one,
// reaching the first over veth pairs whose real hardware addresses the pool learns.
#include "device/cdevice.h"
#include "interface/clanserver.h"
#include "interface/cserverspool.h"
#include "netnssim.h"
#include "platform/procarpresolver.h"

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

// Sends a line through a transport and collects the answer up to its CR LF.
QString exchange(CInterface* transport, const QByteArray& line)
{
    QSignalSpy ready(transport, &CInterface::readyRead);
    if (!transport->write(line)) {
        return QString();
    }
    QString answer;
    QElapsedTimer timer;
    timer.start();
    while (!answer.endsWith(QLatin1String("\r\n")) && timer.elapsed() < 3000) {
        if (ready.isEmpty()) {
            ready.wait(500);
        }
        ready.clear();
        QString part;
        transport->read(part);
        answer += part;
    }
    return answer;
}

} // namespace

class TstCServersPool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void poolInstanceIsReplaced();
    void transportWithoutPeer();
    void macFromNeighbourTable_data();
    void macFromNeighbourTable();

    void twoTransportsShareOnePort();
    void unexpectedPeersAreClosed();
    void transportMadeBeforeThePool();
    void deviceAcceptsItsInstrument();
    void adoptionIntoAnotherThread();
    void poolWhoseThreadIsGone();

private:
    bool inside() const { return m_inside; }
    QHostAddress address(const char* key) const { return QHostAddress(m_netns.value(QLatin1String(key))); }
    QString target(const char* key, int port) const
    {
        return m_netns.value(QLatin1String(key)) + QLatin1Char(':') + QString::number(port);
    }

    TestNetns m_netns;
    bool m_inside = false;
    QString m_skipReason;
};

#define REQUIRE_NETNS()                                                                                      \
    if (!inside()) {                                                                                         \
        QSKIP(qPrintable(TestNetns::skipMessage(m_skipReason)));                                             \
    }

void TstCServersPool::initTestCase()
{
    if (m_netns.up(&m_skipReason)) {
        m_inside = m_netns.enterA();
        if (!m_inside) {
            m_skipReason = QStringLiteral("cannot enter the computer's namespace");
        }
    }
}

void TstCServersPool::cleanupTestCase()
{
    m_netns.down();
}

void TstCServersPool::cleanup()
{
    delete CServersPool::instance();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TstCServersPool::poolInstanceIsReplaced()
{
    QCOMPARE(CServersPool::instance(), nullptr);
    QPointer<CServersPool> first = new CServersPool;
    QCOMPARE(CServersPool::instance(), first.data());
    auto* second = new CServersPool;
    QCOMPARE(CServersPool::instance(), second);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(first.isNull());
    // The old pool's end must not take its successor off the books.
    QCOMPARE(CServersPool::instance(), second);
    delete second;
    QCOMPARE(CServersPool::instance(), nullptr);
}

void TstCServersPool::transportWithoutPeer()
{
    CLANServer server(QHostAddress("10.0.0.5"), 1001, "00-1a-2b-3c-4d-5e");
    QCOMPARE(server.description(), QStringLiteral("LAN Server (10.0.0.5,1001)"));
    QSignalSpy stateSpy(&server, &CInterface::stateChanged);
    // No pool: nothing can listen.
    QVERIFY(!server.open());
    QCOMPARE(states(stateSpy), QList<int>{CInterface::StateDisconnected});

    QVERIFY(!server.write(QStringLiteral("SI\r\n")));
    QVERIFY(!server.write(QByteArray("SI\r\n")));
    QByteArray bytes("kept");
    QCOMPARE(server.read(bytes), 0);
    QCOMPARE(bytes, QByteArray("kept"));
    QString text(QStringLiteral("kept"));
    QCOMPARE(server.read(text), 0);
    QVERIFY(!server.waitAndRead(text, 10));
    QVERIFY(!server.waitForReadyRead(10));
    server.clear();
    QVERIFY(server.close());
    QCOMPARE(states(stateSpy), QList<int>({CInterface::StateDisconnected, CInterface::StateDisconnected}));

    std::unique_ptr<CInterface> copy(server.clone(nullptr));
    auto* copied = qobject_cast<CLANServer*>(copy.get());
    QVERIFY(copied);
    QCOMPARE(copied->mac(), QByteArray("00-1a-2b-3c-4d-5e"));
    QCOMPARE(copied->description(), server.description());

    CDevice device;
    device.setLANServer(QHostAddress("10.0.0.5"), 1001, "00-1a-2b-3c-4d-5e");
    QCOMPARE(device.interfaceDescription(), QStringLiteral("LAN Server (10.0.0.5,1001)"));
    QVERIFY(!device.connectDevice(false));
    QCOMPARE(device.state(), int(STATE_DISCONNECTED));
}

void TstCServersPool::macFromNeighbourTable_data()
{
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QByteArray>("mac");

    const QByteArray header =
        "IP address       HW type     Flags       HW address            Mask     Device\n";
    QTest::newRow("complete entry")
        << header + "10.231.0.2       0x1         0x2         BE:5e:88:72:43:fa     *   veth0\n"
        << "10.231.0.2" << QByteArray("be-5e-88-72-43-fa");
    QTest::newRow("other address")
        << header + "10.231.0.2       0x1         0x2         be:5e:88:72:43:fa     *   veth0\n"
        << "10.231.0.20" << QByteArray();
    QTest::newRow("resolution pending")
        << header + "10.231.0.3       0x1         0x0         00:00:00:00:00:00     *   veth0\n"
        << "10.231.0.3" << QByteArray();
    QTest::newRow("second interface")
        << header + "10.231.0.3       0x1         0x0         00:00:00:00:00:00     *   veth0\n" +
               "10.231.0.3       0x1         0x2         02:00:4d:56:00:01     *   veth1\n"
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
    REQUIRE_NETNS();
    auto* pool = new CServersPool;
    const QByteArray mac1 = m_netns.arpMac("B_MAC");
    const QByteArray mac2 = m_netns.arpMac("B_MAC2");
    CLANServer first(address("B_ADDR"), 4100, mac1);
    CLANServer second(address("B_ADDR2"), 4100, mac2);
    QSignalSpy firstStates(&first, &CInterface::stateChanged);
    QSignalSpy secondStates(&second, &CInterface::stateChanged);
    QVERIFY(first.open());
    QVERIFY(second.open());
    QCOMPARE(states(firstStates), QList<int>{CInterface::StateListening});
    QCOMPARE(pool->serverCount(), 1);
    QCOMPARE(pool->awaited(), QList<QByteArray>({mac1, mac2}));

    // The instrument on the second link reaches the shared port; only its own transport takes it.
    NetnsProcess secondInstrument;
    QVERIFY(secondInstrument.startSim(m_netns, {"--tcp-client", target("A_ADDR2", 4100), "--weight", "222"}));
    QTRY_COMPARE_WITH_TIMEOUT(states(secondStates), QList<int>({3, 1}), 5000);
    QCOMPARE(states(firstStates), QList<int>{3});
    QCOMPARE(pool->awaited(), QList<QByteArray>{mac1});
    QVERIFY(exchange(&second, "SI\r\n").contains(QLatin1String("222")));

    NetnsProcess firstInstrument;
    QVERIFY(firstInstrument.startSim(m_netns, {"--tcp-client", target("A_ADDR", 4100), "--weight", "111"}));
    QTRY_COMPARE_WITH_TIMEOUT(states(firstStates), QList<int>({3, 1}), 5000);
    QCOMPARE(states(secondStates), QList<int>({3, 1}));
    QVERIFY(exchange(&first, "SI\r\n").contains(QLatin1String("111")));
    QVERIFY(exchange(&second, "SI\r\n").contains(QLatin1String("222")));

    // Every awaited MAC served: nothing listens any more.
    QCOMPARE(pool->awaited(), QList<QByteArray>{});
    QCOMPARE(pool->serverCount(), 0);
    QTcpSocket late;
    late.connectToHost(QHostAddress(QHostAddress::LocalHost), 4100);
    QVERIFY(!late.waitForConnected(3000));

    // The first instrument drops: its transport listens again, and takes the instrument back.
    firstInstrument.stop();
    QTRY_COMPARE_WITH_TIMEOUT(states(firstStates), QList<int>({3, 1, 3}), 5000);
    QCOMPARE(pool->serverCount(), 1);
    QCOMPARE(pool->awaited(), QList<QByteArray>{mac1});
    NetnsProcess firstAgain;
    QVERIFY(firstAgain.startSim(m_netns, {"--tcp-client", target("A_ADDR", 4100), "--weight", "333"}));
    QTRY_COMPARE_WITH_TIMEOUT(states(firstStates), QList<int>({3, 1, 3, 1}), 5000);
    QVERIFY(exchange(&first, "SI\r\n").contains(QLatin1String("333")));
    QCOMPARE(states(secondStates), QList<int>({3, 1}));
}

void TstCServersPool::unexpectedPeersAreClosed()
{
    REQUIRE_NETNS();
    auto* pool = new CServersPool;
    const QByteArray mac1 = m_netns.arpMac("B_MAC");
    CLANServer first(address("B_ADDR"), 4101, mac1);
    QSignalSpy firstStates(&first, &CInterface::stateChanged);
    QVERIFY(first.open());

    // A known MAC that nobody awaits: closed at once, so the peer sees its end of the stream.
    NetnsProcess stranger;
    QVERIFY(
        stranger.start(m_netns, QStringLiteral("socat"), {"-u", "TCP:" + target("A_ADDR2", 4101), "STDOUT"}));
    // Waited for in the event loop, which is where the pool accepts and closes the connection.
    QTRY_COMPARE_WITH_TIMEOUT(stranger.process.state(), QProcess::NotRunning, 5000);
    QCOMPARE(stranger.process.exitCode(), 0);

    // A peer whose MAC cannot be learnt (loopback has no neighbours): closed too.
    QTcpSocket local;
    QSignalSpy localGone(&local, &QTcpSocket::disconnected);
    local.connectToHost(QHostAddress(QHostAddress::LocalHost), 4101);
    QVERIFY(local.waitForConnected(3000));
    QVERIFY(localGone.wait(3000));
    QCOMPARE(states(firstStates), QList<int>{3});
    QCOMPARE(pool->awaited(), QList<QByteArray>{mac1});
    QCOMPARE(pool->serverCount(), 1);

    // The same MAC awaited twice: one connection goes to one transport, the port stays open.
    CLANServer twin(address("B_ADDR"), 4101, mac1);
    QSignalSpy twinStates(&twin, &CInterface::stateChanged);
    QVERIFY(twin.open());
    QCOMPARE(pool->awaited(), QList<QByteArray>({mac1, mac1}));
    NetnsProcess instrument;
    QVERIFY(instrument.startSim(m_netns, {"--tcp-client", target("A_ADDR", 4101)}));
    QTRY_COMPARE_WITH_TIMEOUT(states(firstStates).size() + states(twinStates).size(), 3, 5000);
    QCOMPARE(states(firstStates), QList<int>({3, 1}));
    QCOMPARE(states(twinStates), QList<int>{3});
    QCOMPARE(pool->awaited(), QList<QByteArray>{mac1});
    QCOMPARE(pool->serverCount(), 1);
    QVERIFY(first.hasPeer());
    QVERIFY(!twin.hasPeer());
}

void TstCServersPool::transportMadeBeforeThePool()
{
    REQUIRE_NETNS();
    CLANServer early(address("B_ADDR"), 4102, m_netns.arpMac("B_MAC"));
    QSignalSpy earlyStates(&early, &CInterface::stateChanged);
    QVERIFY(!early.open());
    new CServersPool;
    // Opened once a pool exists, it also hears the pool's announcements.
    QVERIFY(early.open());
    NetnsProcess instrument;
    QVERIFY(instrument.startSim(m_netns, {"--tcp-client", target("A_ADDR", 4102)}));
    QTRY_COMPARE_WITH_TIMEOUT(states(earlyStates), QList<int>({2, 3, 1}), 5000);
    QCOMPARE(exchange(&early, "SJ\r\n"), QStringLiteral("MJ\r\n"));
}

void TstCServersPool::deviceAcceptsItsInstrument()
{
    REQUIRE_NETNS();
    new CServersPool;
    CDevice device;
    device.setLANServer(address("B_ADDR"), 4103, m_netns.arpMac("B_MAC"));
    QCOMPARE(device.interfaceDescription(), QStringLiteral("LAN Server (10.231.0.2,4103)"));
    QVERIFY(device.connectDevice(false));
    QCOMPARE(device.state(), int(STATE_LISTENING));

    NetnsProcess instrument;
    QVERIFY(instrument.startSim(m_netns, {"--tcp-client", target("A_ADDR", 4103)}));
    QTRY_COMPARE_WITH_TIMEOUT(device.state(), int(STATE_CONNECTED), 5000);
    QVERIFY(device.checkEcho());
    instrument.stop();
    QTRY_COMPARE_WITH_TIMEOUT(device.state(), int(STATE_LISTENING), 5000);
    device.disconnectDevice();
    QCOMPARE(device.state(), int(STATE_DISCONNECTED));
}

void TstCServersPool::adoptionIntoAnotherThread()
{
    REQUIRE_NETNS();
    new CServersPool;
    QThread worker;
    auto* transport = new CLANServer(address("B_ADDR"), 4104, m_netns.arpMac("B_MAC"));
    transport->moveToThread(&worker);
    QList<int> seen;
    connect(transport, &CInterface::stateChanged, this, [&seen](int state) { seen << state; });
    worker.start();
    QMetaObject::invokeMethod(transport, [transport] { transport->open(); });
    QTRY_COMPARE(seen, QList<int>{3});

    NetnsProcess instrument;
    QVERIFY(instrument.startSim(m_netns, {"--tcp-client", target("A_ADDR", 4104)}));
    QTRY_COMPARE_WITH_TIMEOUT(seen, QList<int>({3, 1}), 5000);
    // The connection works from the transport's own thread.
    QString answer;
    QMetaObject::invokeMethod(
        transport,
        [transport, &answer] {
            if (transport->write(QByteArray("SJ\r\n"))) {
                transport->waitAndRead(answer, 3000);
            }
        },
        Qt::BlockingQueuedConnection);
    QCOMPARE(answer, QStringLiteral("MJ\r\n"));

    instrument.stop();
    QTRY_COMPARE_WITH_TIMEOUT(seen, QList<int>({3, 1, 3}), 5000);
    QMetaObject::invokeMethod(
        transport, [transport] { delete transport; }, Qt::BlockingQueuedConnection);
    worker.quit();
    QVERIFY(worker.wait(5000));
}

void TstCServersPool::poolWhoseThreadIsGone()
{
    // A blocking call into a thread that takes no more events would never return.
    QThread gone;
    auto* pool = new CServersPool;
    pool->moveToThread(&gone);
    gone.start();
    gone.quit();
    QVERIFY(gone.wait(5000));
    CLANServer server(QHostAddress::LocalHost, 1001, "00-1a-2b-3c-4d-5e");
    QSignalSpy stateSpy(&server, &CInterface::stateChanged);
    QVERIFY(!server.open());
    QCOMPARE(states(stateSpy), QList<int>{CInterface::StateDisconnected});
    delete pool;
}

QTEST_GUILESS_MAIN(TstCServersPool)
#include "tst_cserverspool.moc"
