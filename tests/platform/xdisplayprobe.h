#pragma once

#include <QByteArray>
#include <QVector>

struct _XDisplay;

// The test's own connection to the X server it started: it keeps the server from resetting between
// clients and reads what the keystrokes left behind (keymap, Caps Lock).
class XDisplayProbe
{
public:
    XDisplayProbe() = default;
    ~XDisplayProbe();

    bool open(const QByteArray& displayName);
    void close();
    bool isOpen() const { return m_display != nullptr; }
    // The core keymap, every keycode with every keysym.
    QVector<unsigned long> keymap() const;
    bool capsLockOn() const;

private:
    XDisplayProbe(const XDisplayProbe&) = delete;
    XDisplayProbe& operator=(const XDisplayProbe&) = delete;

    _XDisplay* m_display = nullptr;
};
