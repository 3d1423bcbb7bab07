#pragma once

#include <QByteArray>
#include <QVector>

struct _XDisplay;

// The test's own connection to the X server it started: it keeps the server from resetting between
// clients and reads what the keystrokes left behind. Apart from the test, as Xlib's macros clash with Qt.
class XDisplayProbe
{
public:
    XDisplayProbe() = default;
    ~XDisplayProbe() { close(); }
    Q_DISABLE_COPY(XDisplayProbe)

    bool open(const QByteArray& displayName);
    void close();
    bool isOpen() const { return m_display != nullptr; }
    // The core keymap, every keycode with every keysym.
    QVector<unsigned long> keymap() const;
    bool capsLockOn() const;

private:
    _XDisplay* m_display = nullptr;
};
