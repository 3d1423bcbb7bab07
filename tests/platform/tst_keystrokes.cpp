#include "platform/keystrokeservice.h"
#include "platform/x11keystrokeservice.h"
#include "support/childprocess.h"
#include "ui/capture/cursorpaste.h"
#include "xdisplayprobe.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QtTest>

#include <cstdio>
#include <memory>

Q_DECLARE_METATYPE(QVector<Keys>)

namespace {

// The receiving window, this program started with "sink": it prints "ready" once it has the focus;
// on F12 it prints "text " and the text typed so far (UTF-8 in base64, so tabs and line ends survive)
// and empties itself for the next case.
class Sink : public QPlainTextEdit
{
protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() != Qt::Key_F12) {
            QPlainTextEdit::keyPressEvent(event);
            return;
        }
        std::printf("text %s\n", toPlainText().toUtf8().toBase64().constData());
        clear();
    }

    void focusInEvent(QFocusEvent* event) override
    {
        QPlainTextEdit::focusInEvent(event);
        std::printf("ready\n");
    }
};

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
    void typesExactly_data();
    void typesExactly();
    void borrowedKeycodesAreGivenBack();
    void unforcedLineWaits_data();
    void unforcedLineWaits();
    void noXServerTypesNothingAndReportsOnce();

private:
    bool useLayout(const QString& layout);
    // Presses F12, on which the window reports its text and empties itself.
    QString typed();
    void paste(const QString& line, const QVector<Keys>& keys = {});

    ChildProcess m_xvfb;
    ChildProcess m_sink;
    QByteArray m_display;
    XDisplayProbe m_probe;
    QString m_layout;
    std::unique_ptr<X11KeystrokeService> m_service;
    CursorPaste m_paste;
};

void TstKeystrokes::initTestCase()
{
    if (QStandardPaths::findExecutable("Xvfb").isEmpty() ||
        QStandardPaths::findExecutable("setxkbmap").isEmpty()) {
        QSKIP("Xvfb or setxkbmap is missing (scripts/install-deps.sh installs them)");
    }
    // Xvfb picks a free display and writes its number to the descriptor given; it ends when its
    // last client (this test's probe) goes, so a crashed test leaves no server behind.
    m_xvfb.process.setStandardErrorFile(QProcess::nullDevice());
    m_xvfb.process.start(QStringLiteral("Xvfb"),
                         {"-displayfd", "1", "-nolisten", "tcp", "-terminate", "-screen", "0", "640x480x24"});
    const QByteArray number = m_xvfb.waitForLine("", 10000);
    QVERIFY2(!number.isEmpty(), "Xvfb names no display");
    m_display = ':' + number;
    QVERIFY(m_probe.open(m_display));

    // Only this display may receive keystrokes: the service opens DISPLAY on first use.
    qputenv("DISPLAY", m_display);
    m_service = std::make_unique<X11KeystrokeService>();
    QVERIFY(m_service->isAvailable());
    m_paste.setKeystrokeService(m_service.get());

    m_sink.process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_sink.process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("sink")});
    QVERIFY2(m_sink.waitForLine("ready", 10000) == "ready", "the window does not take the focus");
}

void TstKeystrokes::cleanupTestCase()
{
    // Every connection closes before the server goes; Xlib ends a process whose server vanished.
    m_paste.setKeystrokeService(nullptr);
    m_service.reset();
    m_probe.close();
    m_sink.stop();
    m_xvfb.stop();
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
    if (layout != m_layout) {
        QProcess setxkbmap;
        setxkbmap.start(QStringLiteral("setxkbmap"), {"-display", QString::fromLatin1(m_display), layout});
        if (!setxkbmap.waitForFinished(10000) || setxkbmap.exitStatus() != QProcess::NormalExit ||
            setxkbmap.exitCode() != 0) {
            return false;
        }
        m_layout = layout;
    }
    return true;
}

QString TstKeystrokes::typed()
{
    m_service->pressKey(KeystrokeService::VkF12, 0);
    m_service->flush();
    const QByteArray report = m_sink.waitForLine("text");
    return report.isEmpty() ? QStringLiteral("<no answer from the window>")
                            : QString::fromUtf8(QByteArray::fromBase64(report.mid(5)));
}

void TstKeystrokes::paste(const QString& line, const QVector<Keys>& keys)
{
    m_paste.keysArrived(new QVector<Keys>(keys));
    m_paste.messageArrived(line, true);
}

void TstKeystrokes::typesExactly_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QVector<Keys>>("keys");
    QTest::addColumn<QString>("before");
    QTest::addColumn<bool>("capsLock");
    auto row = [](const QString& name, const QString& layout, const QString& line,
                  const QString& expected = {}, const QVector<Keys>& keys = {}, const QString& before = {},
                  bool capsLock = false) {
        QTest::newRow(qPrintable(layout + QStringLiteral(": ") + name))
            << layout << line << (expected.isEmpty() ? line : expected) << keys << before << capsLock;
    };

    QString ascii;
    for (char16_t c = 0x20; c < 0x7F; ++c) {
        ascii.append(QChar(c));
    }
    for (const QString& layout : {QStringLiteral("us"), QStringLiteral("de"), QStringLiteral("fr")}) {
        row("printable ASCII", layout, ascii);
    }
    row("characters the layout lacks", "us", "äöüÄÖÜß€µ°é±§");
    row("beyond Latin-1", "us", "Ж ω ł ✓ 😀");
    row("AltGr", "de", "@€{[]}\\~|µ²³");
    row("umlauts", "de", "äöüÄÖÜß");
    row("dead keys and characters the layout lacks", "de", "^`çñÇ");

    // A CR LF or LF CR pair is one Return, and so is LF followed by CRs; CR CR and LF LF are two.
    row("line end pairs", "us", "a\r\nb\n\rc", "a\nb\nc");
    row("repeated line ends", "us", "a\r\rb\n\nc", "a\n\nb\n\nc");
    row("runs of line ends", "us", "a\r\n\rb\n\r\rc\r\n\r\nd", "a\n\nb\nc\n\nd");
    row("line ends first, apart and last", "us", "\r\na\rb\nc\r\n", "\na\nb\nc\n");

    // Keys the line schedules at positions in it.
    using K = KeystrokeService;
    // A pasted line switches the lock off while it types; the service alone picks the level the lock leaves.
    const QString caps = QString::fromUtf8("Ab:c;Zy\t12.5 KG éÉ@ÄäÑñ");
    for (const QString& layout : {QStringLiteral("us"), QStringLiteral("de")}) {
        row("Caps Lock on", layout, caps, {}, {}, {}, true);
        row("Tab after the last character", layout, "12.5", "12.5\t", {Keys{4, 0, K::VkTab}});
        row("Ctrl+A at 0 replaces the window's text", layout, "new", "new",
            {Keys{0, K::ControlModifier, 'A'}}, "old text");
        row("keys at one position in list order", layout, "xy", "Zxy",
            {Keys{2, 0, K::VkHome}, Keys{2, K::ShiftModifier, 'Z'}, Keys{2, 0, K::VkEnd}});
    }
    row("Left arrow between two characters", "us", "ab", "ba", {Keys{1, 0, K::VkLeft}});
    row("Shift with a digit key", "us", "a", "!a", {Keys{0, K::ShiftModifier, '1'}});
    row("Home, then Delete", "us", "xab", "ab", {Keys{3, 0, K::VkHome}, Keys{3, 0, K::VkDelete}});
}

void TstKeystrokes::typesExactly()
{
    QFETCH(QString, layout);
    QFETCH(QString, line);
    QFETCH(QString, expected);
    QFETCH(QVector<Keys>, keys);
    QFETCH(QString, before);
    QFETCH(bool, capsLock);

    QVERIFY(useLayout(layout));
    if (capsLock) {
        QVERIFY(m_service->toggleCapsLock());
        m_service->flush();
        QVERIFY(m_probe.capsLockOn());
    }
    if (!before.isEmpty()) {
        paste(before);
    }
    paste(line, keys);
    QCOMPARE(m_probe.capsLockOn(), capsLock);
    QCOMPARE(typed(), expected);
    if (capsLock) {
        for (const uint c : line.toUcs4()) {
            QVERIFY(m_service->typeCharacter(c));
        }
        QCOMPARE(typed(), line);
        QVERIFY(m_probe.capsLockOn());
    }
}

void TstKeystrokes::borrowedKeycodesAreGivenBack()
{
    QVERIFY(useLayout(QStringLiteral("us")));
    m_service->restoreBorrowedKeys();
    const QVector<unsigned long> keymap = m_probe.keymap();
    QVERIFY(!keymap.isEmpty());

    const QString line = QString::fromUtf8("12,5 µg ± 0,1 °C");
    paste(line);
    QVERIFY(m_service->borrowedKeyCount() > 0);
    QVERIFY(m_probe.keymap() != keymap);
    QCOMPARE(typed(), line);
    QTRY_COMPARE_WITH_TIMEOUT(m_service->borrowedKeyCount(), 0, X11KeystrokeService::BorrowHoldMs + 4000);
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

    QLineEdit own;
    if (ownFocus) {
        own.show();
        own.activateWindow();
        own.setFocus();
        QTRY_VERIFY(QApplication::focusWidget() == &own);
    }
    m_paste.setEnabled(enabled);
    m_paste.keysArrived(new QVector<Keys>);
    force ? m_paste.messageArrived(QStringLiteral("abc"), true)
          : m_paste.messageArrived(QStringLiteral("abc"));
    QCOMPARE(typed(), expected);

    // A list serves one message: a line not typed leaves it to the next, a line typed takes it along.
    m_paste.messageArrived(QStringLiteral("abc"), true);
    QCOMPARE(typed(), expected.isEmpty() ? QStringLiteral("abc") : QString());
}

void TstKeystrokes::noXServerTypesNothingAndReportsOnce()
{
    // A display number with neither a socket nor a lock file: no server can be there.
    int n = 900;
    while (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) ||
           QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(n))) {
        ++n;
    }
    // The process-wide service opens DISPLAY on first use, and nothing here has used it before.
    qputenv("DISPLAY", ':' + QByteArray::number(n));
    CursorPaste paste;
    // Counts the keystroke diagnostics: a repeated failure is reported once.
    static int warnings = 0;
    static QtMessageHandler previous = nullptr;
    previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            warnings += type == QtWarningMsg && qstrcmp(context.category, "mervik.platform") == 0;
            previous(type, context, text);
        });
    for (int i = 0; i < 3; ++i) {
        paste.keysArrived(new QVector<Keys>{Keys{1, 0, KeystrokeService::VkTab}});
        paste.messageArrived(QStringLiteral("a:B\r\n"), true);
    }
    KeystrokeService* service = KeystrokeService::instance();
    QVERIFY(!(service->typeCharacter('x') || service->pressReturn() ||
              service->pressKey(KeystrokeService::VkTab, 0) || service->toggleCapsLock()));
    QVERIFY(!service->isAvailable());
    qInstallMessageHandler(previous);
    qputenv("DISPLAY", m_display);
    QCOMPARE(warnings, 1);
    QCOMPARE(typed(), QString());
}

int main(int argc, char* argv[])
{
    if (argc == 2 && qstrcmp(argv[1], "sink") == 0) {
        // On the test's own Xvfb, named in DISPLAY by the test.
        qputenv("QT_QPA_PLATFORM", "xcb");
        // Line-buffered into the pipe, so each report reaches the test at once.
        std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
        QApplication app(argc, argv);
        Sink sink;
        sink.resize(400, 300);
        sink.show();
        // Without a window manager the window takes the input focus itself.
        sink.activateWindow();
        sink.setFocus();
        // Never outlive a test that lost track of it.
        QTimer::singleShot(120000, &app, &QApplication::quit);
        return app.exec();
    }
    // The test's own widgets stay off any screen, and no inherited display is ever typed into.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("DISPLAY");
    QApplication app(argc, argv);
    TstKeystrokes test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_keystrokes.moc"
