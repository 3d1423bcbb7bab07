// A window of its own process that takes keystrokes, for the keystroke tests. It prints "ready"
// once it has the keyboard focus; on F12 it prints "text " and the text typed so far (UTF-8 in
// base64, so tabs and line ends survive) and empties itself for the next case.
#include <QApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTimer>

#include <cstdio>

namespace {

void say(const QByteArray& line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

class Sink : public QPlainTextEdit
{
protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_F12) {
            say("text " + toPlainText().toUtf8().toBase64());
            clear();
            return;
        }
        QPlainTextEdit::keyPressEvent(event);
    }

    void focusInEvent(QFocusEvent* event) override
    {
        QPlainTextEdit::focusInEvent(event);
        if (!m_announced) {
            m_announced = true;
            say("ready");
        }
    }

private:
    bool m_announced = false;
};

} // namespace

int main(int argc, char* argv[])
{
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
