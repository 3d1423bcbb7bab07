#include "xdisplayprobe.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

bool XDisplayProbe::open(const QByteArray& displayName)
{
    m_display = XOpenDisplay(displayName.constData());
    return m_display != nullptr;
}

void XDisplayProbe::close()
{
    if (m_display) {
        XCloseDisplay(m_display);
        m_display = nullptr;
    }
}

QVector<unsigned long> XDisplayProbe::keymap() const
{
    int first = 0;
    int last = 0;
    XDisplayKeycodes(m_display, &first, &last);
    int width = 0;
    KeySym* syms = XGetKeyboardMapping(m_display, static_cast<KeyCode>(first), last - first + 1, &width);
    QVector<unsigned long> map;
    if (syms) {
        map = QVector<unsigned long>(syms, syms + (last - first + 1) * width);
        XFree(syms);
    }
    return map;
}

bool XDisplayProbe::capsLockOn() const
{
    XkbStateRec state;
    XkbGetState(m_display, XkbUseCoreKbd, &state);
    return (state.locked_mods & LockMask) != 0;
}
