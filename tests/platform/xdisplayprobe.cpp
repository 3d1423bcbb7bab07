#include "xdisplayprobe.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

XDisplayProbe::~XDisplayProbe()
{
    close();
}

void XDisplayProbe::close()
{
    if (m_display) {
        XCloseDisplay(m_display);
        m_display = nullptr;
    }
}

bool XDisplayProbe::open(const QByteArray& displayName)
{
    m_display = XOpenDisplay(displayName.constData());
    return m_display != nullptr;
}

QVector<unsigned long> XDisplayProbe::keymap() const
{
    int minKeycode = 0;
    int maxKeycode = 0;
    XDisplayKeycodes(m_display, &minKeycode, &maxKeycode);
    int width = 0;
    KeySym* syms =
        XGetKeyboardMapping(m_display, static_cast<KeyCode>(minKeycode), maxKeycode - minKeycode + 1, &width);
    QVector<unsigned long> map;
    if (syms) {
        for (int i = 0; i < (maxKeycode - minKeycode + 1) * width; ++i) {
            map.append(syms[i]);
        }
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
