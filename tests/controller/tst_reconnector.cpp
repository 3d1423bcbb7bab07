// The current instrument brought back after its line went away, against the simulated instrument on a
// pseudo-terminal (reached through a link, as a port path) and on TCP.
#include "controller/cbalancecontroller.h"
#include "controller/cdevicecontroller.h"
#include "controller/reconnector.h"
#include "device/cdevice.h"
#include "support/simprocess.h"
#include "support/testdatabase.h"
#include "ui/datafeedwidget.h"

#include "siminstrument.h"
#include "simpty.h"
#include "simtcpserver.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

class TstReconnector : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void bringsTheSameInstrumentBack_data();
    void bringsTheSameInstrumentBack();
    void deviceGoneMeanwhile();

private:
    // The line goes away (a pulled cable) or comes back at the same place.
    void setLine(bool up);

    bool m_tcp = false;
    TestDatabase m_db;
    QTemporaryDir m_dir;
    QString m_link;
    SimInstrument m_instrument;
    SimPty m_pty;
    SimTcpServer m_server;
    quint16 m_port = 0;
    Reconnector* m_reconnector = nullptr;
};

void TstReconnector::initTestCase()
{
    DeviceTypes::registerMetaTypes();
    // Made first, as at start-up: they follow the instrument chosen later.
    CDeviceController::instance();
    CBalanceController::instance();
    m_reconnector = Reconnector::instance();
    QVERIFY(m_db.isValid());
    m_reconnector->setPauses(50, 200);
    m_link = m_dir.filePath(QStringLiteral("tty"));
    m_instrument.setStreaming(100);
    connect(&m_pty, &SimPty::received, &m_instrument, &SimInstrument::feed);
    connect(&m_server, &SimTcpServer::received, &m_instrument, &SimInstrument::feed);
    connect(&m_instrument, &SimInstrument::output, &m_pty, &SimPty::write);
    connect(&m_instrument, &SimInstrument::output, &m_server, &SimTcpServer::write);
    QVERIFY(m_server.listen(QHostAddress::LocalHost, 0));
    m_port = m_server.port();
    m_server.close();
}

void TstReconnector::cleanup()
{
    m_reconnector->setEnabled(true);
    CDeviceController::instance()->setCurrentDevice(nullptr);
    setLine(false);
    m_instrument.setIdentity(SimInstrument::Identity());
}

void TstReconnector::setLine(bool up)
{
    if (m_tcp) {
        up ? void(m_server.listen(QHostAddress::LocalHost, m_port)) : m_server.close();
    } else if (up) {
        QVERIFY(m_pty.open() && m_pty.createLink(m_link));
    } else {
        m_pty.close();
    }
}

void TstReconnector::bringsTheSameInstrumentBack_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<QString>("meanwhile"); // "other": another instrument answers there for a while;
                                            // "manual": the program disconnected it; "off": the option
    QTest::newRow("TCP") << true << "";
    QTest::newRow("another instrument at the place, then the right one") << false << "other";
    QTest::newRow("disconnected on purpose") << false << "manual";
    QTest::newRow("switched off") << true << "off";
    // mervik-sim as a process, its cable pulled by a signal and plugged back by itself.
    QTest::newRow("mervik-sim --reappear-after") << false << "process";
}

void TstReconnector::bringsTheSameInstrumentBack()
{
    QFETCH(bool, tcp);
    QFETCH(QString, meanwhile);
    m_tcp = tcp;
    SimProcess sim;
    if (meanwhile == QLatin1String("process")) {
        QVERIFY(!sim.startPty({"--link", m_link, "--reappear-after", "300", "--stream", "100"}).isEmpty());
    } else {
        setLine(true);
    }
    CDevice device;
    tcp ? device.setLAN(QHostAddress::LocalHost, m_port) : device.setRS232(m_link, QString(), 9600);
    CDeviceController::instance()->setCurrentDevice(&device);
    QVERIFY(device.connectDevice(true));
    QTRY_COMPARE(device.serialNumber(), QStringLiteral("123456"));
    QSignalSpy reconnecting(m_reconnector, &Reconnector::reconnecting);
    // The instrument sends its results by itself; the data feed keeps them.
    DataFeedWidget feed;
    const auto feedRows = [] { return TestDatabase::rows(QStringLiteral("SELECT COUNT FROM DATAFEED")); };
    QTRY_VERIFY(feedRows().size() >= 2);

    m_reconnector->setEnabled(meanwhile != QLatin1String("off"));
    if (meanwhile == QLatin1String("manual")) {
        device.disconnectDevice();
    } else if (meanwhile == QLatin1String("process")) {
        ::kill(pid_t(sim.process.processId()), SIGUSR1);
        QVERIFY(!sim.waitForLine("GONE").isEmpty());
    } else {
        setLine(false);
    }
    QTRY_COMPARE(device.state(), int(STATE_DISCONNECTED));
    if (meanwhile == QLatin1String("manual") || meanwhile == QLatin1String("off")) {
        setLine(true);
        // Nothing is tried: the line stays as it was left.
        QVERIFY(!reconnecting.wait(600));
        QCOMPARE(device.state(), int(STATE_DISCONNECTED));
        return;
    }
    QCOMPARE(reconnecting.count(), 1);
    QVERIFY(m_reconnector->isReconnecting());
    if (meanwhile == QLatin1String("other")) {
        SimInstrument::Identity other;
        other.serialNumber = "999999";
        m_instrument.setIdentity(other);
        setLine(true);
        // Asked at least twice and not taken.
        QByteArray heard;
        QMetaObject::Connection listen =
            connect(&m_pty, &SimPty::received, this, [&heard](const QByteArray& bytes) { heard += bytes; });
        QTRY_VERIFY_WITH_TIMEOUT(heard.count("SW9") >= 2, 5000);
        disconnect(listen);
        QCOMPARE(device.state(), int(STATE_DISCONNECTED));
        m_instrument.setIdentity(SimInstrument::Identity());
    } else if (meanwhile != QLatin1String("process")) {
        setLine(true);
    }
    QTRY_COMPARE_WITH_TIMEOUT(device.state(), int(STATE_CONNECTED), 5000);
    QCOMPARE(reconnecting.count(), 2);
    QCOMPARE(reconnecting.last().first().toBool(), false);
    QCOMPARE(CDeviceController::currentDevice(), &device);
    QCOMPARE(device.serialNumber(), QStringLiteral("123456"));
    // The program goes on with it where it was: the feed grows on from the rows it had.
    const QStringList before = feedRows();
    QTRY_VERIFY(feedRows().size() >= before.size() + 2);
    QCOMPARE(feedRows().mid(0, before.size()), before);
    device.disconnectDevice();
}

void TstReconnector::deviceGoneMeanwhile()
{
    // A new search deletes what the last one found: the wait ends and the program hears its devices again.
    m_tcp = false;
    setLine(true);
    auto* device = new CDevice;
    device->setRS232(m_link, QString(), 9600);
    CDeviceController::instance()->setCurrentDevice(device);
    QVERIFY(device->connectDevice(true));
    QTRY_COMPARE(device->serialNumber(), QStringLiteral("123456"));
    QSignalSpy reconnecting(m_reconnector, &Reconnector::reconnecting);
    setLine(false);
    QTRY_COMPARE(reconnecting.count(), 1);
    delete device;
    QTRY_COMPARE(reconnecting.count(), 2);
    QVERIFY(!CDeviceController::instance()->quiet());
}

QTEST_MAIN(TstReconnector)
#include "tst_reconnector.moc"
