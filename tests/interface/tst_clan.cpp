// The TCP client transport against an instrument played by a loopback server in the test.
#include "interface/clan.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

const QHostAddress Loopback(QStringLiteral("127.0.0.1"));
constexpr int Connected = CInterface::StateConnected;
constexpr int Disconnected = CInterface::StateDisconnected;

// The instrument's end of the next connection.
QTcpSocket* accept(QTcpServer& server)
{
    return server.hasPendingConnections() || server.waitForNewConnection(3000)
               ? server.nextPendingConnection()
               : nullptr;
}

} // namespace

class TstCLAN : public QObject
{
    Q_OBJECT

private slots:
    void bytesAndStates();
    void refusedConnect();
};

void TstCLAN::bytesAndStates()
{
    QTcpServer server;
    QVERIFY(server.listen(Loopback, 0));
    CLAN lan(Loopback, server.serverPort());
    QList<int> states;
    connect(&lan, &CInterface::stateChanged, this, [&states](int state) { states << state; });
    QVERIFY(lan.open());
    QTcpSocket* instrument = accept(server);
    QVERIFY(instrument);

    QVERIFY(lan.write(QString::fromUtf8("SIµ\r\n")));
    QVERIFY(lan.write(QByteArray("SZ\r\n")));
    const QByteArray written = QString::fromUtf8("SIµ\r\nSZ\r\n").toUtf8();
    QTRY_COMPARE(instrument->bytesAvailable(), qint64(written.size()));
    QCOMPARE(instrument->readAll(), written);

    // One loopback segment: all 15000 bytes arrive at once, and a read takes only 10000 of them.
    instrument->write(QByteArray(15000, 'w'));
    QVERIFY(instrument->waitForBytesWritten(3000));
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

    // What waits before a clear is dropped.
    instrument->write("stale");
    QVERIFY(instrument->waitForBytesWritten(3000));
    QVERIFY(lan.waitForReadyRead(3000));
    lan.clear();
    QCOMPARE(lan.read(bytes), 0);
    QSignalSpy ready(&lan, &CInterface::readyRead);
    instrument->write(QByteArray("12.5 g\r\n\0tail", 14));
    QVERIFY(ready.wait(3000));
    // The NUL is dropped and the rest of the chunk kept.
    QString text;
    QVERIFY(lan.waitAndRead(text, 3000));
    QCOMPARE(text, QStringLiteral("12.5 g\r\ntail"));

    // Closed, the peer sees it; closing a closed transport still reports exactly one state.
    QSignalSpy peerGone(instrument, &QTcpSocket::disconnected);
    QVERIFY(lan.close());
    QVERIFY(peerGone.wait(3000));
    QVERIFY(lan.close());
    QCOMPARE(states, QList<int>({Connected, Disconnected, Disconnected}));

    // Opened again and dropped by the peer: one report of the drop, not one per earlier open.
    QVERIFY(lan.open());
    instrument = accept(server);
    QVERIFY(instrument);
    instrument->abort();
    QTRY_COMPARE(states, QList<int>({Connected, Disconnected, Disconnected, Connected, Disconnected}));
    QCoreApplication::processEvents();
    QCOMPARE(states.size(), 5);
}

void TstCLAN::refusedConnect()
{
    QTcpServer closed;
    QVERIFY(closed.listen(Loopback, 0));
    CLAN lan(Loopback, closed.serverPort());
    closed.close();
    QSignalSpy states(&lan, &CInterface::stateChanged);
    QVERIFY(!lan.open());
    QCOMPARE(QList<QVariantList>(states), QList<QVariantList>{{Disconnected}});
    QVERIFY(!lan.write(QStringLiteral("SI\r\n")));
    QString text;
    QCOMPARE(lan.read(text), 0);
    QVERIFY(!lan.waitAndRead(text, 10));

    QObject parent;
    CInterface* copy = lan.clone(&parent);
    QVERIFY(qobject_cast<CLAN*>(copy));
    QCOMPARE(copy->parent(), &parent);
    QCOMPARE(copy->description(), QStringLiteral("LAN (127.0.0.1,%1)").arg(lan.port()));
}

QTEST_GUILESS_MAIN(TstCLAN)
#include "tst_clan.moc"
