#include "platform/x11keystrokeservice.h"

#include "platform/logcategories.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSet>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <array>
#include <functional>
#include <vector>

// Xlib defines macros (None, Bool, Status, KeyPress...) that clash with Qt names: include it last.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

namespace {

// A key to press with the modifier keys that must be held around it.
struct Stroke
{
    KeyCode keycode = 0;
    std::vector<KeyCode> held;
};

// A modifier key that selects a shift level, with the real modifiers it sets.
struct LevelKey
{
    KeyCode keycode = 0;
    unsigned mask = 0;
};

// A keycode that no key of the layout uses, bound to a character for a while.
struct Borrowed
{
    KeyCode keycode = 0;
    std::array<KeySym, 2> keysyms{};
    qint64 lastUse = 0;
};

// Virtual-key codes of the scheduled keys, with the keysyms of the same keys. The punctuation keys
// (0xBA and up) carry the names of their US-layout symbols.
struct VirtualKeyName
{
    int vk;
    KeySym keysym;
};
constexpr VirtualKeyName virtualKeyNames[] = {
    {0x08, XK_BackSpace},    {0x09, XK_Tab},         {0x0C, XK_Clear},       {0x0D, XK_Return},
    {0x10, XK_Shift_L},      {0x11, XK_Control_L},   {0x12, XK_Alt_L},       {0x13, XK_Pause},
    {0x14, XK_Caps_Lock},    {0x1B, XK_Escape},      {0x20, XK_space},       {0x21, XK_Prior},
    {0x22, XK_Next},         {0x23, XK_End},         {0x24, XK_Home},        {0x25, XK_Left},
    {0x26, XK_Up},           {0x27, XK_Right},       {0x28, XK_Down},        {0x2C, XK_Print},
    {0x2D, XK_Insert},       {0x2E, XK_Delete},      {0x5B, XK_Super_L},     {0x5C, XK_Super_R},
    {0x5D, XK_Menu},         {0x6A, XK_KP_Multiply}, {0x6B, XK_KP_Add},      {0x6C, XK_KP_Separator},
    {0x6D, XK_KP_Subtract},  {0x6E, XK_KP_Decimal},  {0x6F, XK_KP_Divide},   {0x90, XK_Num_Lock},
    {0x91, XK_Scroll_Lock},  {0xA0, XK_Shift_L},     {0xA1, XK_Shift_R},     {0xA2, XK_Control_L},
    {0xA3, XK_Control_R},    {0xA4, XK_Alt_L},       {0xA5, XK_Alt_R},       {0xBA, XK_semicolon},
    {0xBB, XK_equal},        {0xBC, XK_comma},       {0xBD, XK_minus},       {0xBE, XK_period},
    {0xBF, XK_slash},        {0xC0, XK_grave},       {0xDB, XK_bracketleft}, {0xDC, XK_backslash},
    {0xDD, XK_bracketright}, {0xDE, XK_apostrophe},
};

KeySym keysymForVirtualKey(int vk)
{
    if (vk >= '0' && vk <= '9') {
        return static_cast<KeySym>(vk);
    }
    // Letter keys are named by their capital; the key is the one that types the small letter.
    if (vk >= 'A' && vk <= 'Z') {
        return static_cast<KeySym>(vk - 'A' + 'a');
    }
    if (vk >= 0x60 && vk <= 0x69) {
        return XK_KP_0 + static_cast<KeySym>(vk - 0x60);
    }
    if (vk >= 0x70 && vk <= 0x87) {
        return XK_F1 + static_cast<KeySym>(vk - 0x70);
    }
    for (const VirtualKeyName& name : virtualKeyNames) {
        if (name.vk == vk) {
            return name.keysym;
        }
    }
    return NoSymbol;
}

bool isControlCharacter(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

} // namespace

struct X11KeystrokeService::Private
{
    QByteArray displayName;
    Display* display = nullptr;
    bool tried = false;
    int xkbEventType = -1;
    XkbDescPtr xkb = nullptr;
    bool mapDirty = true;
    int group = 0;
    unsigned mods = 0;
    QSet<QString> reported;
    std::vector<Borrowed> borrowed;
    QElapsedTimer clock;
    std::unique_ptr<QTimer> restoreTimer;

    ~Private();
    bool open();
    void reportOnce(const QString& key, const QString& text);
    void readState();
    void drainEvents();
    int effectiveGroup(KeyCode kc) const;
    KeySym produced(KeyCode kc, int g, unsigned mask) const;
    std::vector<LevelKey> levelKeys() const;
    bool findStroke(const std::function<bool(KeySym)>& wanted, Stroke* stroke);
    bool borrow(std::array<KeySym, 2> keysyms);
    void touch(KeyCode kc);
    void restore();
    KeyCode keycodeFor(KeySym keysym);
    void tap(const Stroke& stroke);
};

X11KeystrokeService::Private::~Private()
{
    if (display) {
        restore();
        if (xkb) {
            XkbFreeKeyboard(xkb, 0, True);
        }
        XCloseDisplay(display);
    }
}

void X11KeystrokeService::Private::reportOnce(const QString& key, const QString& text)
{
    if (reported.contains(key)) {
        return;
    }
    reported.insert(key);
    qCWarning(lcPlatform).noquote() << text;
}

bool X11KeystrokeService::Private::open()
{
    if (tried) {
        return display != nullptr;
    }
    tried = true;
    clock.start();
    const QString name = displayName.isEmpty() ? QString::fromLocal8Bit(qgetenv("DISPLAY"))
                                               : QString::fromLocal8Bit(displayName);
    Display* dpy = XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData());
    if (!dpy) {
        reportOnce(QStringLiteral("open"),
                   QStringLiteral("no X server at display \"%1\": keystrokes are not typed").arg(name));
        return false;
    }
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(dpy, &event, &error, &major, &minor)) {
        reportOnce(QStringLiteral("xtest"),
                   QStringLiteral("X server at \"%1\" has no XTest: keystrokes are not typed").arg(name));
        XCloseDisplay(dpy);
        return false;
    }
    int opcode = 0;
    major = XkbMajorVersion;
    minor = XkbMinorVersion;
    if (!XkbQueryExtension(dpy, &opcode, &event, &error, &major, &minor)) {
        reportOnce(QStringLiteral("xkb"),
                   QStringLiteral("X server at \"%1\" has no XKB: keystrokes are not typed").arg(name));
        XCloseDisplay(dpy);
        return false;
    }
    xkbEventType = event;
    // Keymap changes (a new layout, another client's remapping) make the cached map stale.
    XkbSelectEvents(dpy, XkbUseCoreKbd, XkbMapNotifyMask | XkbNewKeyboardNotifyMask,
                    XkbMapNotifyMask | XkbNewKeyboardNotifyMask);
    display = dpy;
    return true;
}

void X11KeystrokeService::Private::drainEvents()
{
    // Bounded: whatever is left after this many events only means the map is read again.
    for (int i = 0; i < 10000 && XPending(display) > 0; ++i) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == xkbEventType) {
            mapDirty = true;
        } else if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
            mapDirty = true;
        }
    }
    if (XPending(display) > 0) {
        mapDirty = true;
    }
}

void X11KeystrokeService::Private::readState()
{
    // The state request is a round trip, so every map event sent before it is queued by now.
    XkbStateRec state;
    XkbGetState(display, XkbUseCoreKbd, &state);
    group = state.group;
    mods = state.mods;
    drainEvents();
    if (mapDirty || !xkb) {
        if (xkb) {
            XkbFreeKeyboard(xkb, 0, True);
        }
        xkb = XkbGetMap(display, XkbKeyTypesMask | XkbKeySymsMask | XkbKeyActionsMask | XkbModifierMapMask,
                        XkbUseCoreKbd);
        mapDirty = false;
    }
}

int X11KeystrokeService::Private::effectiveGroup(KeyCode kc) const
{
    const int count = XkbKeyNumGroups(xkb, kc);
    if (count == 0) {
        return -1;
    }
    if (group < count) {
        return group;
    }
    const unsigned char info = XkbKeyGroupInfo(xkb, kc);
    switch (XkbOutOfRangeGroupAction(info)) {
    case XkbClampIntoRange:
        return count - 1;
    case XkbRedirectIntoRange: {
        const int target = XkbOutOfRangeGroupNumber(info);
        return target < count ? target : 0;
    }
    default:
        return group % count;
    }
}

KeySym X11KeystrokeService::Private::produced(KeyCode kc, int g, unsigned mask) const
{
    XkbKeyTypePtr type = XkbKeyKeyType(xkb, kc, g);
    const unsigned relevant = mask & type->mods.mask;
    int level = 0;
    for (int i = 0; i < type->map_count; ++i) {
        const XkbKTMapEntryRec& entry = type->map[i];
        if (entry.active && entry.mods.mask == relevant) {
            level = entry.level;
            break;
        }
    }
    if (level >= XkbKeyGroupWidth(xkb, kc, g)) {
        return NoSymbol;
    }
    KeySym keysym = XkbKeySymEntry(xkb, kc, level, g);
    // Caps Lock that the key's type does not consume still turns letters into capitals.
    if ((mask & LockMask) && !(type->mods.mask & LockMask)) {
        KeySym lower = NoSymbol;
        KeySym upper = NoSymbol;
        XConvertCase(keysym, &lower, &upper);
        keysym = upper;
    }
    return keysym;
}

std::vector<LevelKey> X11KeystrokeService::Private::levelKeys() const
{
    // One key per shift level modifier; others (Control, Alt) would change what the target does.
    const std::array<std::array<KeySym, 2>, 3> kinds{{{XK_Shift_L, XK_Shift_R},
                                                      {XK_ISO_Level3_Shift, XK_ISO_Level3_Shift},
                                                      {XK_ISO_Level5_Shift, XK_ISO_Level5_Shift}}};
    std::vector<LevelKey> keys;
    for (const auto& kind : kinds) {
        for (int kc = xkb->min_key_code; kc <= xkb->max_key_code; ++kc) {
            const KeyCode code = static_cast<KeyCode>(kc);
            const int g = effectiveGroup(code);
            if (g < 0 || XkbKeyGroupWidth(xkb, code, g) == 0) {
                continue;
            }
            const KeySym keysym = XkbKeySymEntry(xkb, code, 0, g);
            if (keysym != kind[0] && keysym != kind[1]) {
                continue;
            }
            unsigned mask = 0;
            if (XkbKeyHasActions(xkb, code)) {
                const XkbAction* action = XkbKeyActionEntry(xkb, code, 0, g);
                if (action->type == XkbSA_SetMods) {
                    mask = (action->mods.flags & XkbSA_UseModMapMods) ? xkb->map->modmap[code]
                                                                      : action->mods.mask;
                }
            }
            if (mask != 0) {
                keys.push_back({code, mask});
                break;
            }
        }
    }
    return keys;
}

bool X11KeystrokeService::Private::findStroke(const std::function<bool(KeySym)>& wanted, Stroke* stroke)
{
    readState();
    if (!xkb) {
        return false;
    }
    const std::vector<LevelKey> shifters = levelKeys();
    const unsigned combinations = 1u << shifters.size();
    int bestScore = 1 << 20;
    for (int kc = xkb->min_key_code; kc <= xkb->max_key_code; ++kc) {
        const KeyCode code = static_cast<KeyCode>(kc);
        const int g = effectiveGroup(code);
        if (g < 0) {
            continue;
        }
        for (unsigned combination = 0; combination < combinations; ++combination) {
            unsigned mask = mods;
            int pressed = 0;
            bool selfHeld = false;
            for (size_t i = 0; i < shifters.size(); ++i) {
                if (combination & (1u << i)) {
                    mask |= shifters[i].mask;
                    ++pressed;
                    selfHeld = selfHeld || shifters[i].keycode == code;
                }
            }
            const KeySym keysym = produced(code, g, mask);
            if (selfHeld || keysym == NoSymbol || !wanted(keysym)) {
                continue;
            }
            // Fewest held keys first; the main block before the keypad, whose level follows Num Lock.
            const int score = pressed * 2 + (IsKeypadKey(keysym) ? 1 : 0);
            if (score < bestScore) {
                bestScore = score;
                stroke->keycode = code;
                stroke->held.clear();
                for (size_t i = 0; i < shifters.size(); ++i) {
                    if (combination & (1u << i)) {
                        stroke->held.push_back(shifters[i].keycode);
                    }
                }
            }
        }
    }
    return bestScore < (1 << 20);
}

bool X11KeystrokeService::Private::borrow(std::array<KeySym, 2> keysyms)
{
    KeyCode spare = 0;
    for (int kc = xkb->max_key_code; kc >= xkb->min_key_code && spare == 0; --kc) {
        const KeyCode code = static_cast<KeyCode>(kc);
        const bool inUse = std::any_of(borrowed.begin(), borrowed.end(),
                                       [code](const Borrowed& b) { return b.keycode == code; });
        if (!inUse && XkbKeyNumGroups(xkb, code) == 0 && xkb->map->modmap[code] == 0) {
            spare = code;
        }
    }
    auto slot = borrowed.end();
    if (spare == 0) {
        // Every spare keycode is bound already: take the one used longest ago.
        slot = std::min_element(borrowed.begin(), borrowed.end(),
                                [](const Borrowed& a, const Borrowed& b) { return a.lastUse < b.lastUse; });
        if (slot == borrowed.end()) {
            reportOnce(QStringLiteral("spare"),
                       QStringLiteral("the keymap has no unused keycode: characters the layout lacks are "
                                      "not typed"));
            return false;
        }
        spare = slot->keycode;
    }
    KeySym syms[2] = {keysyms[0], keysyms[1]};
    XChangeKeyboardMapping(display, spare, 2, syms, 1);
    // A receiver that tracks the keyboard state (xkbcommon) reads the whole state again when the
    // keymap changes, maybe only after later modifier presses have reached the server. A state
    // change of ours between the remap and the key sets it right before the key arrives.
    XkbStateRec state;
    XkbGetState(display, XkbUseCoreKbd, &state);
    if (!(state.latched_mods & ShiftMask)) {
        XkbLatchModifiers(display, XkbUseCoreKbd, ShiftMask, ShiftMask);
        XkbLatchModifiers(display, XkbUseCoreKbd, ShiftMask, 0);
    }
    XSync(display, False);
    mapDirty = true;
    if (slot == borrowed.end()) {
        borrowed.push_back({spare, keysyms, clock.elapsed()});
    } else {
        slot->keysyms = keysyms;
        slot->lastUse = clock.elapsed();
    }
    return true;
}

void X11KeystrokeService::Private::touch(KeyCode kc)
{
    bool any = false;
    for (Borrowed& b : borrowed) {
        if (b.keycode == kc) {
            b.lastUse = clock.elapsed();
            any = true;
        }
    }
    if (!any || !QCoreApplication::instance()) {
        return;
    }
    if (!restoreTimer) {
        restoreTimer = std::make_unique<QTimer>();
        restoreTimer->setSingleShot(true);
        restoreTimer->setInterval(BorrowHoldMs);
        QObject::connect(restoreTimer.get(), &QTimer::timeout, [this] { restore(); });
    }
    restoreTimer->start();
}

void X11KeystrokeService::Private::restore()
{
    if (restoreTimer) {
        restoreTimer->stop();
    }
    for (const Borrowed& b : borrowed) {
        // Leave the keycode alone when someone else has bound it meanwhile (a new layout, say).
        int width = 0;
        KeySym* current = XGetKeyboardMapping(display, b.keycode, 1, &width);
        const bool ours = current && width >= 2 && current[0] == b.keysyms[0] && current[1] == b.keysyms[1];
        if (current) {
            XFree(current);
        }
        if (ours) {
            KeySym nothing = NoSymbol;
            XChangeKeyboardMapping(display, b.keycode, 1, &nothing, 1);
        }
    }
    if (!borrowed.empty()) {
        borrowed.clear();
        XSync(display, False);
        mapDirty = true;
    }
}

KeyCode X11KeystrokeService::Private::keycodeFor(KeySym keysym)
{
    Stroke stroke;
    if (findStroke([keysym](KeySym k) { return k == keysym; }, &stroke)) {
        return stroke.keycode;
    }
    // Keys such as F13 may have no key in the layout; any keycode that carries the keysym will do.
    if (xkb && borrow({keysym, keysym}) && findStroke([keysym](KeySym k) { return k == keysym; }, &stroke)) {
        touch(stroke.keycode);
        return stroke.keycode;
    }
    return 0;
}

void X11KeystrokeService::Private::tap(const Stroke& stroke)
{
    for (KeyCode held : stroke.held) {
        XTestFakeKeyEvent(display, held, True, CurrentTime);
    }
    XTestFakeKeyEvent(display, stroke.keycode, True, CurrentTime);
    XTestFakeKeyEvent(display, stroke.keycode, False, CurrentTime);
    for (auto it = stroke.held.rbegin(); it != stroke.held.rend(); ++it) {
        XTestFakeKeyEvent(display, *it, False, CurrentTime);
    }
    XFlush(display);
}

X11KeystrokeService::X11KeystrokeService(const QByteArray& displayName) : d(std::make_unique<Private>())
{
    d->displayName = displayName;
}

X11KeystrokeService::~X11KeystrokeService() = default;

bool X11KeystrokeService::isAvailable()
{
    return d->open();
}

bool X11KeystrokeService::typeCharacter(char32_t character)
{
    if (!d->open()) {
        return false;
    }
    const auto wanted = [character](KeySym keysym) { return xkb_keysym_to_utf32(keysym) == character; };
    Stroke stroke;
    if (!d->findStroke(wanted, &stroke)) {
        if (!d->xkb || isControlCharacter(character) || character > 0x10FFFF) {
            d->reportOnce(
                QStringLiteral("char %1").arg(quint32(character)),
                QStringLiteral("no key types U+%1: left out").arg(quint32(character), 4, 16, QChar('0')));
            return false;
        }
        KeySym keysym = xkb_utf32_to_keysym(character);
        if (keysym == XKB_KEY_NoSymbol) {
            keysym = 0x01000000 | character;
        }
        KeySym lower = NoSymbol;
        KeySym upper = NoSymbol;
        XConvertCase(keysym, &lower, &upper);
        // A letter gets both cases, so the server gives the key an alphabetic type and Caps Lock
        // and Shift act on it as on any letter key.
        const bool cased = lower != upper && (keysym == lower || keysym == upper);
        const std::array<KeySym, 2> keysyms =
            cased ? std::array<KeySym, 2>{lower, upper} : std::array<KeySym, 2>{keysym, keysym};
        if (!d->borrow(keysyms) || !d->findStroke(wanted, &stroke)) {
            d->reportOnce(
                QStringLiteral("char %1").arg(quint32(character)),
                QStringLiteral("no key types U+%1: left out").arg(quint32(character), 4, 16, QChar('0')));
            return false;
        }
    }
    d->tap(stroke);
    d->touch(stroke.keycode);
    return true;
}

bool X11KeystrokeService::pressKey(int virtualKey, int modifiers)
{
    if (!d->open()) {
        return false;
    }
    const KeySym keysym = keysymForVirtualKey(virtualKey);
    const KeyCode key = keysym == NoSymbol ? 0 : d->keycodeFor(keysym);
    if (key == 0) {
        d->reportOnce(
            QStringLiteral("vk %1").arg(virtualKey),
            QStringLiteral("virtual key 0x%1 has no X key: left out").arg(virtualKey, 2, 16, QChar('0')));
        return false;
    }
    // Held in the order Alt, Ctrl, Shift and let go the other way round.
    Stroke stroke;
    stroke.keycode = key;
    const std::array<std::pair<int, KeySym>, 3> order{
        {{AltModifier, XK_Alt_L}, {ControlModifier, XK_Control_L}, {ShiftModifier, XK_Shift_L}}};
    for (const auto& [flag, modifierKeysym] : order) {
        if (modifiers & flag) {
            const KeyCode held = d->keycodeFor(modifierKeysym);
            if (held != 0) {
                stroke.held.push_back(held);
            }
        }
    }
    d->tap(stroke);
    return true;
}

bool X11KeystrokeService::pressReturn()
{
    return pressKey(VkReturn, 0);
}

bool X11KeystrokeService::capsLockOn()
{
    if (!d->open()) {
        return false;
    }
    XkbStateRec state;
    XkbGetState(d->display, XkbUseCoreKbd, &state);
    return (state.locked_mods & LockMask) != 0;
}

bool X11KeystrokeService::toggleCapsLock()
{
    if (!d->open()) {
        return false;
    }
    const KeyCode key = d->keycodeFor(XK_Caps_Lock);
    if (key == 0) {
        d->reportOnce(QStringLiteral("caps"), QStringLiteral("the keymap has no Caps Lock key"));
        return false;
    }
    d->tap(Stroke{key, {}});
    return true;
}

void X11KeystrokeService::flush()
{
    if (d->display) {
        XSync(d->display, False);
    }
}

int X11KeystrokeService::borrowedKeyCount() const
{
    return static_cast<int>(d->borrowed.size());
}

void X11KeystrokeService::restoreBorrowedKeys()
{
    if (d->display) {
        d->restore();
    }
}
