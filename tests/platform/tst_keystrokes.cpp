#include "controller/cursorpaste.h"
#include "platform/keystrokeservice.h"
#include "platform/x11keystrokeservice.h"
#include "xdisplayprobe.h"

#include <QApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(QVector<Keys>)

namespace {

// Counts the keystroke diagnostics, to see that a repeated failure is reported once.
int s_platformWarnings = 0;
QtMessageHandler s_previousHandler = nullptr;

void countingHandler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtWarningMsg && context.category && qstrcmp(context.category, "mervik.platform") == 0) {
        ++s_platformWarnings;
    }
    s_previousHandler(type, context, text);
}

Keys key(int position, int modifiers, int virtualKey)
{
    Keys k;
    k.position = position;
    k.modifiers = static_cast<quint32>(modifiers);
    k.key = static_cast<quint32>(virtualKey);
    return k;
}

} // namespace

// Keystrokes end to end: an Xvfb of the test's own, a window of another process with the focus,
// and the text that arrives there.
class TstKeystrokes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void typesLineExactly_data();
    void typesLineExactly();
    void lineBreaks_data();
    void lineBreaks();
    void scheduledKeys_data();
    void scheduledKeys();
    void capsLockOn_data();
    void capsLockOn();
    void borrowedKeycodesAreGivenBack();
    void unforcedLineWaits_data();
    void unforcedLineWaits();
    void nothingWithoutKeysList();
    void noXServerTypesNothingAndReportsOnce();

private:
    bool useLayout(const QString& layout);
    bool startSink();
    // Presses F12, on which the window reports its text and empties itself.
    QString typed();
    void paste(const QString& line, const QVector<Keys>& keys = {});

    QProcess m_xvfb;
    QProcess m_sink;
    QByteArray m_display;
    XDisplayProbe m_probe;
    QString m_layout;
    bool m_sinkReady = false;
    QStringList m_reports;
    std::unique_ptr<X11KeystrokeService> m_service;
    CursorPaste m_paste;
};

void TstKeystrokes::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) {
        QSKIP("Xvfb is not installed (scripts/install-deps.sh installs it)");
    }
    if (QStandardPaths::findExecutable(QStringLiteral("setxkbmap")).isEmpty()) {
        QSKIP("setxkbmap is not installed (scripts/install-deps.sh installs it)");
    }
    // Xvfb picks a free display and writes its number to the descriptor given; it ends when its
    // last client (this test's probe) goes, so a crashed test leaves no server behind.
    m_xvfb.setStandardErrorFile(QProcess::nullDevice());
    m_xvfb.start(QStringLiteral("Xvfb"),
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                  QStringLiteral("tcp"), QStringLiteral("-terminate"), QStringLiteral("-screen"),
                  QStringLiteral("0"), QStringLiteral("640x480x24")});
    QVERIFY2(m_xvfb.waitForStarted(5000), "Xvfb does not start");
    QByteArray number;
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     number += m_xvfb.readAllStandardOutput();
                     return number.contains('\n') || m_xvfb.state() == QProcess::NotRunning;
                 },
                 10000),
             "Xvfb names no display");
    QVERIFY2(number.contains('\n'), "Xvfb ended before naming its display");
    m_display = ':' + number.trimmed();
    QVERIFY(m_probe.open(m_display));

    // Only this display may receive keystrokes: the service opens DISPLAY on first use.
    qputenv("DISPLAY", m_display);
    m_service = std::make_unique<X11KeystrokeService>();
    QVERIFY(m_service->isAvailable());
    m_paste.setKeystrokeService(m_service.get());
    QVERIFY(useLayout(QStringLiteral("us")));
    QVERIFY(startSink());
}

void TstKeystrokes::cleanupTestCase()
{
    // Every connection closes before the server goes; Xlib ends a process whose server vanished.
    m_paste.setKeystrokeService(nullptr);
    m_service.reset();
    m_probe.close();
    if (m_sink.state() != QProcess::NotRunning) {
        m_sink.kill();
        m_sink.waitForFinished(5000);
    }
    if (m_xvfb.state() != QProcess::NotRunning) {
        m_xvfb.terminate();
        if (!m_xvfb.waitForFinished(5000)) {
            m_xvfb.kill();
            m_xvfb.waitForFinished(5000);
        }
    }
}

void TstKeystrokes::init()
{
    m_paste.setEnabled(true);
    if (m_probe.isOpen() && m_probe.capsLockOn()) {
        m_service->toggleCapsLock();
        m_service->flush();
    }
}

bool TstKeystrokes::useLayout(const QString& layout)
{
    if (layout == m_layout) {
        return true;
    }
    QProcess setxkbmap;
    setxkbmap.start(QStringLiteral("setxkbmap"),
                    {QStringLiteral("-display"), QString::fromLatin1(m_display), layout});
    if (!setxkbmap.waitForFinished(10000) || setxkbmap.exitStatus() != QProcess::NormalExit ||
        setxkbmap.exitCode() != 0) {
        qWarning() << "setxkbmap" << layout << "failed:" << setxkbmap.readAllStandardError();
        return false;
    }
    m_layout = layout;
    return true;
}

bool TstKeystrokes::startSink()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    m_sink.setProcessEnvironment(environment);
    m_sink.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&m_sink, &QProcess::readyReadStandardOutput, this, [this] {
        while (m_sink.canReadLine()) {
            const QByteArray line = m_sink.readLine().trimmed();
            if (line == "ready") {
                m_sinkReady = true;
            } else if (line.startsWith("text")) {
                m_reports.append(QString::fromUtf8(QByteArray::fromBase64(line.mid(5))));
            }
        }
    });
    m_sink.start(QStringLiteral(MERVIK_KEYSTROKESINK_PATH), QStringList());
    return QTest::qWaitFor([this] { return m_sinkReady || m_sink.state() == QProcess::NotRunning; }, 10000) &&
           m_sinkReady;
}

QString TstKeystrokes::typed()
{
    const int before = m_reports.size();
    m_service->pressKey(KeystrokeService::VkF12, 0);
    m_service->flush();
    if (!QTest::qWaitFor([&] { return m_reports.size() > before; }, 5000)) {
        return QStringLiteral("<no answer from the window>");
    }
    return m_reports.last();
}

void TstKeystrokes::paste(const QString& line, const QVector<Keys>& keys)
{
    m_paste.keysArrived(new QVector<Keys>(keys));
    m_paste.messageArrived(line, true);
}

void TstKeystrokes::typesLineExactly_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected");

    const QString result = QStringLiteral("7\t03-14-2025\t09:41:07\tWS-1;-12.50:Kg\tZYzy\r\n");
    const QString resultTyped = QStringLiteral("7\t03-14-2025\t09:41:07\tWS-1;-12.50:Kg\tZYzy\n");
    QString ascii;
    for (char16_t c = 0x20; c < 0x7F; ++c) {
        ascii.append(QChar(c));
    }
    const QString lacking = QString::fromUtf8("äöüÄÖÜß€µ°é±§");
    const QString beyond = QString::fromUtf8("Ж ω ł ✓ 😀");
    const QString altGr = QString::fromUtf8("@€{[]}\\~|µ²³");
    const QString notInGerman = QString::fromUtf8("^`çñÇ");

    for (const QString& layout : {QStringLiteral("us"), QStringLiteral("de"), QStringLiteral("fr")}) {
        QTest::addRow("%s: result line", qPrintable(layout)) << layout << result << resultTyped;
        QTest::addRow("%s: printable ASCII", qPrintable(layout)) << layout << ascii << ascii;
    }
    QTest::newRow("us: characters the layout lacks") << "us" << lacking << lacking;
    QTest::newRow("us: beyond Latin-1") << "us" << beyond << beyond;
    QTest::newRow("de: AltGr") << "de" << altGr << altGr;
    QTest::newRow("de: umlauts") << "de" << QString::fromUtf8("äöüÄÖÜß") << QString::fromUtf8("äöüÄÖÜß");
    QTest::newRow("de: dead keys and characters the layout lacks") << "de" << notInGerman << notInGerman;
}

void TstKeystrokes::typesLineExactly()
{
    QFETCH(QString, layout);
    QFETCH(QString, line);
    QFETCH(QString, expected);

    QVERIFY(useLayout(layout));
    paste(line);
    QCOMPARE(typed(), expected);
}

void TstKeystrokes::lineBreaks_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected");

    QTest::newRow("CR LF: one Return") << "a\r\nb"
                                       << "a\nb";
    QTest::newRow("LF CR: one Return") << "a\n\rb"
                                       << "a\nb";
    QTest::newRow("CR CR: two") << "a\r\rb"
                                << "a\n\nb";
    QTest::newRow("LF LF: two") << "a\n\nb"
                                << "a\n\nb";
    QTest::newRow("CR LF CR: two") << "a\r\n\rb"
                                   << "a\n\nb";
    QTest::newRow("LF CR CR: one") << "a\n\r\rb"
                                   << "a\nb";
    QTest::newRow("CR LF CR LF: two") << "a\r\n\r\nb"
                                      << "a\n\nb";
    QTest::newRow("CR, a character, LF: two") << "a\rb\nc"
                                              << "a\nb\nc";
    QTest::newRow("line end first and last") << "\r\n12.5 g\r\n"
                                             << "\n12.5 g\n";
}

void TstKeystrokes::lineBreaks()
{
    QFETCH(QString, line);
    QFETCH(QString, expected);

    QVERIFY(useLayout(QStringLiteral("us")));
    paste(line);
    QCOMPARE(typed(), expected);
}

void TstKeystrokes::scheduledKeys_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QVector<Keys>>("keys");
    QTest::addColumn<QString>("expected");

    using K = KeystrokeService;
    for (const QString& layout : {QStringLiteral("us"), QStringLiteral("de")}) {
        QTest::addRow("%s: Tab after the last character", qPrintable(layout))
            << layout << QString() << "12.5" << QVector<Keys>{key(4, 0, K::VkTab)} << "12.5\t";
        QTest::addRow("%s: Ctrl+A at 0 replaces the window's text", qPrintable(layout))
            << layout << "old text"
            << "new" << QVector<Keys>{key(0, K::ControlModifier, 'A')} << "new";
        QTest::addRow("%s: Left arrow between two characters", qPrintable(layout))
            << layout << QString() << "ab" << QVector<Keys>{key(1, 0, K::VkLeft)} << "ba";
        QTest::addRow("%s: keys at one position in list order", qPrintable(layout))
            << layout << QString() << "xy"
            << QVector<Keys>{key(2, 0, K::VkHome), key(2, K::ShiftModifier, 'Z'), key(2, 0, K::VkEnd)}
            << "Zxy";
        QTest::addRow("%s: Shift with a digit key", qPrintable(layout))
            << layout << QString() << "a" << QVector<Keys>{key(0, K::ShiftModifier, '1')} << "!a";
        QTest::addRow("%s: Home, then Delete", qPrintable(layout))
            << layout << QString() << "xab" << QVector<Keys>{key(3, 0, K::VkHome), key(3, 0, K::VkDelete)}
            << "ab";
    }
}

void TstKeystrokes::scheduledKeys()
{
    QFETCH(QString, layout);
    QFETCH(QString, before);
    QFETCH(QString, line);
    QFETCH(QVector<Keys>, keys);
    QFETCH(QString, expected);

    QVERIFY(useLayout(layout));
    if (!before.isEmpty()) {
        paste(before);
    }
    paste(line, keys);
    QCOMPARE(typed(), expected);
}

void TstKeystrokes::capsLockOn_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<bool>("serviceAlone");

    QTest::newRow("us, line") << "us" << false;
    QTest::newRow("de, line") << "de" << false;
    QTest::newRow("us, service alone") << "us" << true;
    QTest::newRow("de, service alone") << "de" << true;
}

void TstKeystrokes::capsLockOn()
{
    QFETCH(QString, layout);
    QFETCH(bool, serviceAlone);

    QVERIFY(useLayout(layout));
    QVERIFY(m_service->toggleCapsLock());
    m_service->flush();
    QVERIFY(m_probe.capsLockOn());

    const QString line = QString::fromUtf8("Ab:c;Zy\t12.5 KG éÉ@ÄäÑñ");
    if (serviceAlone) {
        // The service alone also types exactly with Caps Lock on: it picks the level the lock leaves.
        for (const uint c : line.toUcs4()) {
            QVERIFY(m_service->typeCharacter(c));
        }
        m_service->flush();
    } else {
        paste(line);
    }
    QVERIFY(m_probe.capsLockOn());
    QCOMPARE(typed(), line);
}

void TstKeystrokes::borrowedKeycodesAreGivenBack()
{
    X11KeystrokeService* x11 = m_service.get();
    QVERIFY(useLayout(QStringLiteral("us")));
    x11->restoreBorrowedKeys();
    const QVector<unsigned long> keymap = m_probe.keymap();
    QVERIFY(!keymap.isEmpty());

    const QString line = QString::fromUtf8("12,5 µg ± 0,1 °C");
    paste(line);
    QVERIFY(x11->borrowedKeyCount() > 0);
    QVERIFY(m_probe.keymap() != keymap);
    QCOMPARE(typed(), line);
    QTRY_COMPARE_WITH_TIMEOUT(x11->borrowedKeyCount(), 0, X11KeystrokeService::BorrowHoldMs + 4000);
    QCOMPARE(m_probe.keymap(), keymap);
}

void TstKeystrokes::unforcedLineWaits_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("ownFocus");
    QTest::addColumn<bool>("force");
    QTest::addColumn<QString>("expected");

    QTest::newRow("enabled, focus elsewhere") << true << false << false << "abc";
    QTest::newRow("disabled") << false << false << false << "";
    QTest::newRow("disabled, forced") << false << false << true << "abc";
    QTest::newRow("own widget has the focus") << true << true << false << "";
    QTest::newRow("own widget has the focus, forced") << true << true << true << "abc";
}

void TstKeystrokes::unforcedLineWaits()
{
    QFETCH(bool, enabled);
    QFETCH(bool, ownFocus);
    QFETCH(bool, force);
    QFETCH(QString, expected);

    QVERIFY(useLayout(QStringLiteral("us")));
    std::unique_ptr<QLineEdit> own;
    if (ownFocus) {
        own = std::make_unique<QLineEdit>();
        own->show();
        own->activateWindow();
        own->setFocus();
        QTRY_VERIFY(QApplication::focusWidget() == own.get());
    } else {
        QVERIFY(!QApplication::focusWidget());
    }
    m_paste.setEnabled(enabled);
    m_paste.keysArrived(new QVector<Keys>);
    if (force) {
        m_paste.messageArrived(QStringLiteral("abc"), true);
    } else {
        m_paste.messageArrived(QStringLiteral("abc"));
    }
    QCOMPARE(typed(), expected);
}

void TstKeystrokes::nothingWithoutKeysList()
{
    QVERIFY(useLayout(QStringLiteral("us")));
    m_paste.messageArrived(QStringLiteral("abc"), true);
    QCOMPARE(typed(), QString());

    // A list serves one message only.
    paste(QStringLiteral("one"));
    m_paste.messageArrived(QStringLiteral("two"), true);
    QCOMPARE(typed(), QStringLiteral("one"));
}

void TstKeystrokes::noXServerTypesNothingAndReportsOnce()
{
    // A display number with neither a socket nor a lock file: no server can be there.
    QByteArray absent;
    for (int n = 900; n < 1000 && absent.isEmpty(); ++n) {
        if (!QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) &&
            !QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(n))) {
            absent = ':' + QByteArray::number(n);
        }
    }
    QVERIFY(!absent.isEmpty());

    // The process-wide service opens DISPLAY on first use, and nothing here has used it before.
    qputenv("DISPLAY", absent);
    CursorPaste paste;
    s_platformWarnings = 0;
    s_previousHandler = qInstallMessageHandler(countingHandler);
    for (int i = 0; i < 3; ++i) {
        paste.keysArrived(new QVector<Keys>{key(1, 0, KeystrokeService::VkTab)});
        paste.messageArrived(QStringLiteral("a:B\r\n"), true);
    }
    KeystrokeService* service = KeystrokeService::instance();
    const bool typedAnything = service->typeCharacter('x') || service->pressReturn() ||
                               service->pressKey(KeystrokeService::VkTab, 0) || service->toggleCapsLock();
    const bool available = service->isAvailable();
    qInstallMessageHandler(s_previousHandler);
    qputenv("DISPLAY", m_display);

    QVERIFY(!typedAnything);
    QVERIFY(!available);
    QCOMPARE(s_platformWarnings, 1);
    QCOMPARE(typed(), QString());
}

int main(int argc, char* argv[])
{
    // The test's own widgets stay off any screen, and no inherited display is ever typed into.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("DISPLAY");
    QApplication app(argc, argv);
    TstKeystrokes test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_keystrokes.moc"
