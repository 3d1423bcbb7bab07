#include "interface/crs232.h"
#include "support/ptypair.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

// The serial transport against a pseudo-terminal whose master side plays the instrument.
class TstCRS232 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void openAndCloseEmitStates();
    void openFailureReportsDisconnected();
    void writesReachTheLine();
    void textReads_data();
    void textReads();
    void textReadTakesAtMostTenThousandBytes();
    void clearDropsWaitingBytes();
    void descriptionAndClone();
    void stateNames_data();
    void stateNames();
    void vanishedPortClosesTransport();

private:
    // Waits until the transport has at least n bytes waiting.
    static bool waitForBytes(CRS232& serial, PtyPair& pty, const QByteArray& bytes);
};

void TstCRS232::initTestCase()
{
    PtyPair probe;
    if (!probe.isValid()) {
        QSKIP("pseudo-terminals are not available here");
    }
}

bool TstCRS232::waitForBytes(CRS232& serial, PtyPair& pty, const QByteArray& bytes)
{
    QSignalSpy ready(&serial, &CInterface::readyRead);
    if (!pty.write(bytes)) {
        return false;
    }
    return ready.wait(2000);
}

void TstCRS232::openAndCloseEmitStates()
{
    PtyPair pty;
    CRS232 serial(pty.slavePath(), 9600, QStringLiteral("pty"));
    QSignalSpy states(&serial, &CInterface::stateChanged);

    QVERIFY(serial.open());
    QCOMPARE(states.count(), 1);
    QCOMPARE(states.at(0).at(0).toInt(), 1);

    QVERIFY(serial.close());
    QCOMPARE(states.count(), 2);
    QCOMPARE(states.at(1).at(0).toInt(), 2);

    // Re-opening after a close is allowed.
    QVERIFY(serial.open());
    QCOMPARE(states.last().at(0).toInt(), 1);
    serial.close();
}

void TstCRS232::openFailureReportsDisconnected()
{
    CRS232 serial(QStringLiteral("/nonexistent/ttyMERVIK"), 9600, QString());
    QSignalSpy states(&serial, &CInterface::stateChanged);
    QVERIFY(!serial.open());
    QCOMPARE(states.count(), 1);
    QCOMPARE(states.at(0).at(0).toInt(), 2);

    // Writing to a port that is not open writes nothing but still reports success; reading fails.
    QVERIFY(serial.write(QStringLiteral("SI\r\n")));
    QString text = QStringLiteral("stale");
    QCOMPARE(serial.read(text), -1);
    QVERIFY(text.isEmpty());
}

void TstCRS232::writesReachTheLine()
{
    PtyPair pty;
    CRS232 serial(pty.slavePath(), 115200, QString());
    QVERIFY(serial.open());
    QVERIFY(serial.write(QStringLiteral("SL12.5\r\n")));
    QVERIFY(serial.write(QByteArray("Sx1\r\n", 5)));
    // Text goes out as UTF-8.
    QVERIFY(serial.write(QString::fromUtf8("Zażółć\r\n")));
    const QByteArray expected = QByteArray("SL12.5\r\nSx1\r\n") + QString::fromUtf8("Zażółć\r\n").toUtf8();
    QTRY_COMPARE_WITH_TIMEOUT(pty.received(), expected, 2000);
}

void TstCRS232::textReads_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("plain line") << QByteArray("  12.345 g  \r\n") << QStringLiteral("  12.345 g  \r\n");
    // A NUL is dropped, never the rest of the chunk after it.
    QTest::newRow("NUL inside") << QByteArray("12\0AB", 5) << QStringLiteral("12AB");
    QTest::newRow("NULs around lines")
        << QByteArray("\0 1.5 g\r\n\0\0 2.5 g\r\n", 20) << QStringLiteral(" 1.5 g\r\n 2.5 g\r\n");
    QTest::newRow("UTF-8") << QString::fromUtf8("µg\r\n").toUtf8() << QString::fromUtf8("µg\r\n");
}

void TstCRS232::textReads()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);

    PtyPair pty;
    CRS232 serial(pty.slavePath(), 9600, QString());
    QVERIFY(serial.open());
    QVERIFY(waitForBytes(serial, pty, bytes));
    QString read;
    QCOMPARE(serial.read(read), bytes.size());
    QCOMPARE(read, text);
}

void TstCRS232::textReadTakesAtMostTenThousandBytes()
{
    PtyPair pty;
    CRS232 serial(pty.slavePath(), 115200, QString());
    QVERIFY(serial.open());

    const QByteArray bytes(12345, 'x');
    QVERIFY(pty.write(bytes));
    // Take everything into the port's buffer: the blocking wait returns false once the line is quiet.
    while (serial.waitForReadyRead(300)) {
    }
    QString text;
    QCOMPARE(serial.read(text), 10000);
    QCOMPARE(text.size(), 10000);
    QByteArray rest;
    QCOMPARE(serial.read(rest), bytes.size() - 10000);
}

void TstCRS232::clearDropsWaitingBytes()
{
    PtyPair pty;
    CRS232 serial(pty.slavePath(), 9600, QString());
    QVERIFY(serial.open());
    QVERIFY(waitForBytes(serial, pty, "stale answer\r\n"));
    serial.clear();
    QVERIFY(waitForBytes(serial, pty, "MT\r\n"));
    QString text;
    serial.read(text);
    QCOMPARE(text, QStringLiteral("MT\r\n"));
}

void TstCRS232::descriptionAndClone()
{
    CRS232 serial(QStringLiteral("COM7"), 115200, QStringLiteral("USB Serial Port"));
    QCOMPARE(serial.description(), QStringLiteral("COM7 (USB Serial Port,115200)"));
    QVERIFY(serial.setBaudRate(57600));
    QCOMPARE(serial.baudRate(), 57600);

    QObject owner;
    std::unique_ptr<CInterface> copy(serial.clone(&owner));
    auto* serialCopy = qobject_cast<CRS232*>(copy.get());
    QVERIFY(serialCopy);
    QCOMPARE(copy->parent(), &owner);
    QCOMPARE(serialCopy->portName(), QStringLiteral("COM7"));
    QCOMPARE(serialCopy->portDescription(), QStringLiteral("USB Serial Port"));
    QCOMPARE(serialCopy->baudRate(), 57600);
    QCOMPARE(copy->description(), QStringLiteral("COM7 (USB Serial Port,57600)"));

    QString text;
    QVERIFY(!serial.waitAndRead(text, 100));
}

void TstCRS232::stateNames_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("name");
    QTest::newRow("1") << 1 << "Connected";
    QTest::newRow("2") << 2 << "Disconnected";
    QTest::newRow("3") << 3 << "Listenning";
    QTest::newRow("0") << 0 << "Unknown";
    QTest::newRow("4") << 4 << "Unknown";
}

void TstCRS232::stateNames()
{
    QFETCH(int, state);
    QFETCH(QString, name);
    QCOMPARE(CInterface::stateName(state), name);
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
    QCOMPARE(states.count(), 1);
    QCOMPARE(states.at(0).at(0).toInt(), 2);
    // No second close follows, however many errors were reported meanwhile.
    QTest::qWait(100);
    QCOMPARE(states.count(), 1);
}

QTEST_GUILESS_MAIN(TstCRS232)
#include "tst_crs232.moc"
