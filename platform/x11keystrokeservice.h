#pragma once

#include "platform/keystrokeservice.h"

#include <QByteArray>

#include <memory>

// Keystrokes through the XTest extension of the X server. Each character is looked up in the
// active XKB group, so Shift and AltGr are pressed exactly as the layout needs them; a character
// the layout lacks is bound for a while to a keycode that no key uses.
class X11KeystrokeService : public KeystrokeService
{
public:
    // An empty name means the display that DISPLAY names. The connection opens on first use.
    explicit X11KeystrokeService(const QByteArray& displayName = QByteArray());
    ~X11KeystrokeService() override;

    bool isAvailable() override;
    bool typeCharacter(char32_t character) override;
    bool pressKey(int virtualKey, int modifiers) override;
    bool pressReturn() override;
    bool capsLockOn() override;
    bool toggleCapsLock() override;
    void flush() override;

    // Keycodes still bound to characters the layout lacks.
    int borrowedKeyCount() const;
    // Gives those keycodes back now instead of after the idle delay.
    void restoreBorrowedKeys();

    // How long a borrowed keycode stays bound after its last use: the window that receives the
    // key reads the keymap only when it gets to the key event, so an early restore would change
    // the character under it.
    static constexpr int BorrowHoldMs = 1000;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
