// The byte transports: the serial one against a pseudo-terminal whose master side plays the
// instrument, the TCP client against an instrument played by a loopback server in the test.
#include "interface/clan.h"
#include "interface/crs232.h"
#include "support/ptypair.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

constexpr int Connected = CInterface::StateConnected;
constexpr int Disconnected = CInterface::StateDisconnected;

const QHostAddress Loopback(QStringLiteral("127.0.0.1"));

// The instrument's end of the next connection.
QTcpSocket* accept(QTcpServer& server)
{
    return server.hasPendingConnections() || server.waitForNewConnection(3000)
               ? server.nextPendingConnection()
               : nullptr;
}

} // namespace

class TstTransports : public QObject
{
    Q_OBJECT

private slots:
    void serialBytesCapAndStates();
    void lanBytesAndStatesThenRefused();
};

void TstTransports::serialBytesCapAndStates()
{
    CRS232 missing(QStringLiteral("/nonexistent/ttyMERVIK"), 9600, QStringLiteral("USB Serial Port"));
    QSignalSpy missingStates(&missing, &CInterface::stateChanged);
    QVERIFY(!missing.open());
    QCOMPARE(QList<QVariantList>(missingStates), QList<QVariantList>{{Disconnected}});
    QString text = QStringLiteral("stale");
    QCOMPARE(missing.read(text), -1);
    QVERIFY(text.isEmpty());
    QVERIFY(!missing.waitAndRead(text, 10));

    QVERIFY(missing.setBaudRate(57600));
    const std::unique_ptr<CInterface> copy(missing.clone(nullptr));
    QCOMPARE(copy->description(), QStringLiteral("/nonexistent/ttyMERVIK (USB Serial Port,57600)"));

    PtyPair pty;
    if (!pty.isValid()) {
        QSKIP("pseudo-terminals are not available here");
    }
    CRS232 serial(pty.slavePath(), 115200, QString());
    QSignalSpy states(&serial, &CInterface::stateChanged);
    QVERIFY(serial.open());

    // Text goes out as UTF-8.
    QVERIFY(serial.write(QString::fromUtf8("Zażółć\r\n")));
    QVERIFY(serial.write(QByteArray("Sx1\r\n")));
    QTRY_COMPARE_WITH_TIMEOUT(pty.received(), QString::fromUtf8("Zażółć\r\nSx1\r\n").toUtf8(), 2000);

    // Bytes waiting before a clear are dropped; what follows is read as UTF-8 text.
    QSignalSpy ready(&serial, &CInterface::readyRead);
    QVERIFY(pty.write("stale answer\r\n"));
    QVERIFY(ready.wait(2000));
    serial.clear();
    // A NUL is dropped, never the rest of the chunk after it.
    const QByteArray answer =
        QByteArray("\0  12.5 ", 8) + QString::fromUtf8("µg").toUtf8() + QByteArray("\r\n\0 1.5 g\r\n", 12);
    QVERIFY(pty.write(answer));
    QVERIFY(ready.wait(2000));
    QCOMPARE(serial.read(text), answer.size());
    QCOMPARE(text, QString::fromUtf8("  12.5 µg\r\n 1.5 g\r\n"));

    // A text read takes at most MaxTextRead bytes. Fed in parts small enough for the pseudo-terminal's
    // buffer, taken into the port's one each.
    for (int part = 0; part < 4; ++part) {
        QVERIFY(pty.write(QByteArray(3000, 'x')));
        QVERIFY(serial.waitForReadyRead(2000));
    }
    while (serial.waitForReadyRead(20)) {
    }
    QCOMPARE(serial.read(text), CRS232::MaxTextRead);
    QCOMPARE(text.size(), CRS232::MaxTextRead);
    QByteArray rest;
    QCOMPARE(serial.read(rest), 12000 - CRS232::MaxTextRead);

    QVERIFY(serial.close());
    QVERIFY(serial.open());
    // The far end disappears: the port floods read errors, the transport closes once, and no second
    // close follows, however many errors were reported meanwhile.
    pty.closeMaster();
    QVERIFY(states.wait(3000));
    QVERIFY(!states.wait(100));
    QCOMPARE(QList<QVariantList>(states),
             QList<QVariantList>({{Connected}, {Disconnected}, {Connected}, {Disconnected}}));
}

void TstTransports::lanBytesAndStatesThenRefused()
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

    // Refused: one report, and nothing to write to or read from.
    server.close();
    states.clear();
    QVERIFY(!lan.open());
    QCOMPARE(states, QList<int>{Disconnected});
    QVERIFY(!lan.write(QStringLiteral("SI\r\n")));
    QCOMPARE(lan.read(text), 0);
    QVERIFY(!lan.waitAndRead(text, 10));
}

QTEST_GUILESS_MAIN(TstTransports)
#include "tst_transports.moc"
