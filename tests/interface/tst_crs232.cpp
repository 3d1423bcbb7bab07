// The serial transport against a pseudo-terminal whose master side plays the instrument.
#include "interface/crs232.h"
#include "support/ptypair.h"

#include <QSignalSpy>
#include <QtTest>

namespace {
constexpr int Connected = CInterface::StateConnected;
constexpr int Disconnected = CInterface::StateDisconnected;
} // namespace

class TstCRS232 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void bytesAndStates();
    void openFailureDescriptionAndClone();
    void textReadTakesAtMostTenThousandBytes();
    void vanishedPortClosesTransport();
};

void TstCRS232::initTestCase()
{
    PtyPair probe;
    if (!probe.isValid()) {
        QSKIP("pseudo-terminals are not available here");
    }
}

void TstCRS232::bytesAndStates()
{
    PtyPair pty;
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
    QString text;
    QCOMPARE(serial.read(text), answer.size());
    QCOMPARE(text, QString::fromUtf8("  12.5 µg\r\n 1.5 g\r\n"));

    QVERIFY(serial.close());
    // Re-opening after a close is allowed.
    QVERIFY(serial.open());
    QCOMPARE(QList<QVariantList>(states), QList<QVariantList>({{Connected}, {Disconnected}, {Connected}}));
}

void TstCRS232::openFailureDescriptionAndClone()
{
    CRS232 serial(QStringLiteral("/nonexistent/ttyMERVIK"), 9600, QStringLiteral("USB Serial Port"));
    QSignalSpy states(&serial, &CInterface::stateChanged);
    QVERIFY(!serial.open());
    QCOMPARE(QList<QVariantList>(states), QList<QVariantList>{{Disconnected}});
    // Writing to a port that is not open writes nothing but still reports success; reading fails.
    QVERIFY(serial.write(QStringLiteral("SI\r\n")));
    QString text = QStringLiteral("stale");
    QCOMPARE(serial.read(text), -1);
    QVERIFY(text.isEmpty());
    QVERIFY(!serial.waitAndRead(text, 10));

    QVERIFY(serial.setBaudRate(57600));
    QObject owner;
    auto* copy = qobject_cast<CRS232*>(serial.clone(&owner));
    QVERIFY(copy);
    QCOMPARE(copy->parent(), &owner);
    QCOMPARE(copy->description(), QStringLiteral("/nonexistent/ttyMERVIK (USB Serial Port,57600)"));
}

void TstCRS232::textReadTakesAtMostTenThousandBytes()
{
    PtyPair pty;
    CRS232 serial(pty.slavePath(), 115200, QString());
    QVERIFY(serial.open());

    // Fed in parts small enough for the pseudo-terminal's buffer, taken into the port's one each.
    for (int part = 0; part < 4; ++part) {
        QVERIFY(pty.write(QByteArray(3000, 'x')));
        QVERIFY(serial.waitForReadyRead(2000));
    }
    while (serial.waitForReadyRead(20)) {
    }
    QString text;
    QCOMPARE(serial.read(text), CRS232::MaxTextRead);
    QCOMPARE(text.size(), CRS232::MaxTextRead);
    QByteArray rest;
    QCOMPARE(serial.read(rest), 12000 - CRS232::MaxTextRead);
}

void TstCRS232::vanishedPortClosesTransport()
{
    PtyPair pty;
    CRS232 serial(pty.slavePath(), 9600, QString());
    QVERIFY(serial.open());
    QSignalSpy states(&serial, &CInterface::stateChanged);

    // The far end disappears: the port floods read errors, the transport closes once.
    pty.closeMaster();
    QVERIFY(states.wait(3000));
    // No second close follows, however many errors were reported meanwhile.
    QVERIFY(!states.wait(100));
    QCOMPARE(QList<QVariantList>(states), QList<QVariantList>{{Disconnected}});
}

QTEST_GUILESS_MAIN(TstCRS232)
#include "tst_crs232.moc"
