#pragma once

#include <memory>

// Synthetic key input into whatever window has the keyboard focus. One instance serves the
// process; it is used from the user-interface thread only.
class KeystrokeService
{
public:
    // Flags of a scheduled key, as the capture export hands them over.
    enum Modifier
    {
        ShiftModifier = 1,
        ControlModifier = 2,
        AltModifier = 4
    };

    // Virtual-key codes of the scheduled keys that are spelled out in the code.
    enum VirtualKey
    {
        VkBack = 0x08,
        VkTab = 0x09,
        VkReturn = 0x0D,
        VkEscape = 0x1B,
        VkSpace = 0x20,
        VkPrior = 0x21,
        VkNext = 0x22,
        VkEnd = 0x23,
        VkHome = 0x24,
        VkLeft = 0x25,
        VkUp = 0x26,
        VkRight = 0x27,
        VkDown = 0x28,
        VkInsert = 0x2D,
        VkDelete = 0x2E,
        VkF1 = 0x70,
        VkF12 = 0x7B
    };

    virtual ~KeystrokeService();

    // The process-wide service, created on first use; it talks to the display named by DISPLAY.
    static KeystrokeService* instance();

    // False when there is nothing to type into; the reason is reported once.
    virtual bool isAvailable() = 0;
    // Types one Unicode character exactly as it stands, whatever the active layout needs for it.
    virtual bool typeCharacter(char32_t character) = 0;
    // Presses and releases a key given by its virtual-key code, with the Modifier flags held around it.
    virtual bool pressKey(int virtualKey, int modifiers) = 0;
    virtual bool pressReturn() = 0;
    virtual bool capsLockOn() = 0;
    virtual bool toggleCapsLock() = 0;
    // Returns once everything sent so far has reached the display.
    virtual void flush() = 0;

protected:
    KeystrokeService() = default;

private:
    KeystrokeService(const KeystrokeService&) = delete;
    KeystrokeService& operator=(const KeystrokeService&) = delete;
};
