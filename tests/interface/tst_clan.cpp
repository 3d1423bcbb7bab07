// The TCP client transport against an instrument played by a loopback server in the test.
#include "device/cdevice.h"
#include "interface/clan.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

const QHostAddress Loopback(QStringLiteral("127.0.0.1"));

// The instrument side: accepts one connection and keeps it.
struct Instrument
{
    QTcpServer server;
    QTcpSocket* peer = nullptr;

    Instrument() { server.listen(Loopback, 0); }
    int port() const { return server.serverPort(); }
    bool accept()
    {
        if (!server.hasPendingConnections() && !server.waitForNewConnection(3000)) {
            return false;
        }
        peer = server.nextPendingConnection();
        return peer != nullptr;
    }
};

QList<int> states(const QSignalSpy& spy)
{
    QList<int> values;
    for (const QList<QVariant>& args : spy) {
        values << args.at(0).toInt();
    }
    return values;
}

// A port on which nobody listens.
int closedPort()
{
    QTcpServer probe;
    probe.listen(Loopback, 0);
    return probe.serverPort();
}

} // namespace

class TstCLAN : public QObject
{
    Q_OBJECT

private slots:
    void connectsAndCarriesBytes();
    void refusedConnectReportsDisconnected();
    void peerDropReportsDisconnected();
    void closeDisconnectsOnceAndReopens();
    void readTakesAtMostTenThousandBytes();
    void descriptionAndClone_data();
    void descriptionAndClone();
    void deviceOverLan();
};

void TstCLAN::connectsAndCarriesBytes()
{
    Instrument instrument;
    CLAN lan(Loopback, instrument.port());
    QSignalSpy stateSpy(&lan, &CInterface::stateChanged);

    QVERIFY(lan.open());
    QCOMPARE(states(stateSpy), QList<int>{CInterface::StateConnected});
    QVERIFY(instrument.accept());

    QVERIFY(lan.write(QStringLiteral("SI\r\n")));
    QVERIFY(lan.write(QByteArray("SZ\r\n")));
    QTRY_COMPARE(instrument.peer->bytesAvailable(), qint64(8));
    QCOMPARE(instrument.peer->readAll(), QByteArray("SI\r\nSZ\r\n"));

    QSignalSpy ready(&lan, &CInterface::readyRead);
    instrument.peer->write(QByteArray("12.5 g\r\n\0tail", 14));
    QVERIFY(ready.wait(3000));
    // The NUL is dropped and the rest of the chunk kept; the count says how much was taken.
    QString text;
    QCOMPARE(lan.read(text), 14);
    QCOMPARE(text, QStringLiteral("12.5 g\r\ntail"));
}

void TstCLAN::refusedConnectReportsDisconnected()
{
    CLAN lan(Loopback, closedPort());
    QSignalSpy stateSpy(&lan, &CInterface::stateChanged);
    QVERIFY(!lan.open());
    QCOMPARE(states(stateSpy), QList<int>{CInterface::StateDisconnected});
    QVERIFY(!lan.write(QStringLiteral("SI\r\n")));
    QString text = QStringLiteral("untouched");
    QCOMPARE(lan.read(text), 0);
    QVERIFY(!lan.waitAndRead(text, 10));
}

void TstCLAN::peerDropReportsDisconnected()
{
    Instrument instrument;
    CLAN lan(Loopback, instrument.port());
    QVERIFY(lan.open());
    QVERIFY(instrument.accept());
    QSignalSpy stateSpy(&lan, &CInterface::stateChanged);

    instrument.peer->abort();
    QTRY_COMPARE(states(stateSpy), QList<int>{CInterface::StateDisconnected});
}

void TstCLAN::closeDisconnectsOnceAndReopens()
{
    Instrument instrument;
    CLAN lan(Loopback, instrument.port());
    QSignalSpy stateSpy(&lan, &CInterface::stateChanged);
    QVERIFY(lan.open());
    QVERIFY(instrument.accept());
    QTcpSocket* first = instrument.peer;
    QSignalSpy peerGone(first, &QTcpSocket::disconnected);

    QVERIFY(lan.close());
    QCOMPARE(states(stateSpy), QList<int>({CInterface::StateConnected, CInterface::StateDisconnected}));
    QVERIFY(peerGone.wait(3000));
    // Closing a closed transport still reports exactly one state.
    QVERIFY(lan.close());
    QCOMPARE(stateSpy.count(), 3);

    // Opened again and dropped: one report of the drop, not one per earlier open.
    stateSpy.clear();
    QVERIFY(lan.open());
    QVERIFY(instrument.accept());
    instrument.peer->abort();
    QTRY_COMPARE(states(stateSpy), QList<int>({CInterface::StateConnected, CInterface::StateDisconnected}));
    QCoreApplication::processEvents();
    QCOMPARE(stateSpy.count(), 2);
}

void TstCLAN::readTakesAtMostTenThousandBytes()
{
    Instrument instrument;
    CLAN lan(Loopback, instrument.port());
    QVERIFY(lan.open());
    QVERIFY(instrument.accept());

    // One loopback segment: all 15000 bytes arrive at once, and a read takes only 10000 of them.
    instrument.peer->write(QByteArray(15000, 'w'));
    QVERIFY(instrument.peer->waitForBytesWritten(3000));
    QVERIFY(lan.waitForReadyRead(3000));
    QByteArray bytes;
    QCOMPARE(lan.read(bytes), CLAN::MaxRead);
    QCOMPARE(bytes.size(), CLAN::MaxRead);
    int total = CLAN::MaxRead;
    while (total < 15000 && (lan.read(bytes) > 0 || lan.waitForReadyRead(3000))) {
        QVERIFY(bytes.size() <= CLAN::MaxRead);
        total += bytes.size();
        bytes.clear();
    }
    QCOMPARE(total, 15000);

    instrument.peer->write(QByteArray("ab\0cd", 5));
    QVERIFY(instrument.peer->waitForBytesWritten(3000));
    QString text;
    QVERIFY(lan.waitAndRead(text, 3000));
    QCOMPARE(text, QStringLiteral("abcd"));

    instrument.peer->write("stale");
    QVERIFY(instrument.peer->waitForBytesWritten(3000));
    QVERIFY(lan.waitForReadyRead(3000));
    lan.clear();
    QCOMPARE(lan.read(bytes), 0);
}

void TstCLAN::descriptionAndClone_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("description");
    QTest::newRow("10.0.0.5") << "10.0.0.5" << 1001 << "LAN (10.0.0.5,1001)";
    QTest::newRow("192.168.1.2") << "192.168.1.2" << 4001 << "LAN (192.168.1.2,4001)";
}

void TstCLAN::descriptionAndClone()
{
    QFETCH(QString, address);
    QFETCH(int, port);
    QFETCH(QString, description);
    CLAN lan(QHostAddress(address), port);
    QCOMPARE(lan.description(), description);
    QObject parent;
    CInterface* copy = lan.clone(&parent);
    QVERIFY(qobject_cast<CLAN*>(copy));
    QCOMPARE(copy->parent(), &parent);
    QCOMPARE(copy->description(), description);
}

void TstCLAN::deviceOverLan()
{
    Instrument instrument;
    CDevice device;
    device.setLAN(Loopback, instrument.port());
    QCOMPARE(device.interfaceDescription(), QStringLiteral("LAN (127.0.0.1,%1)").arg(instrument.port()));
    QCOMPARE(device.interface()->parent(), &device);
    QVERIFY(device.connectDevice(false));
    QCOMPARE(device.state(), int(STATE_CONNECTED));
    QVERIFY(instrument.accept());
    QObject::connect(instrument.peer, &QTcpSocket::readyRead, instrument.peer, [&instrument] {
        if (instrument.peer->readAll() == "SJ\r\n") {
            instrument.peer->write("MJ\r\n");
        }
    });
    QVERIFY(device.checkEcho());

    instrument.peer->abort();
    QTRY_COMPARE(device.state(), int(STATE_DISCONNECTED));
}

QTEST_GUILESS_MAIN(TstCLAN)
#include "tst_clan.moc"
