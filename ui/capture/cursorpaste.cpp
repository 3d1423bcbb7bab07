#include "ui/capture/cursorpaste.h"

#include "platform/keystrokeservice.h"

#include <QApplication>

#include <algorithm>
#include <limits>

CursorPaste::CursorPaste(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<Keys>("Keys");
    qRegisterMetaType<QVector<Keys>*>("QVector<Keys>*");
}

CursorPaste::~CursorPaste() = default;

void CursorPaste::keysArrived(QVector<Keys>* keys)
{
    m_keys.reset(keys);
}

void CursorPaste::messageArrived(QString line)
{
    messageArrived(line, false);
}

void CursorPaste::pressKeys(const QVector<Keys>& keys, int& next, qint64 position)
{
    while (next < keys.size() && keys.at(next).position <= position) {
        const Keys& key = keys.at(next);
        m_service->pressKey(static_cast<int>(key.key), static_cast<int>(key.modifiers));
        ++next;
    }
}

void CursorPaste::messageArrived(QString line, bool force)
{
    if (!force && (!m_enabled || QApplication::focusWidget())) {
        return;
    }
    if (!m_keys) {
        return;
    }
    // Each list serves one message, whatever happens to it.
    const std::unique_ptr<QVector<Keys>> pending = std::move(m_keys);
    if (!m_service) {
        m_service = KeystrokeService::instance();
    }
    if (!m_service->isAvailable()) {
        return;
    }

    QVector<Keys> keys = *pending;
    std::stable_sort(keys.begin(), keys.end(),
                     [](const Keys& a, const Keys& b) { return a.position < b.position; });
    int next = 0;

    // Caps Lock would turn the letters of the line into the other case.
    const bool capsLock = m_service->capsLockOn();
    if (capsLock) {
        m_service->toggleCapsLock();
    }

    enum class Break
    {
        None,
        CarriageReturn,
        LineFeed
    };
    Break lastBreak = Break::None;
    for (int i = 0; i < line.size();) {
        pressKeys(keys, next, i);
        const QChar c = line.at(i);
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            // CR LF, LF CR and LF followed by more CRs are one line end; CR CR is two.
            const Break kind = c == QLatin1Char('\r') ? Break::CarriageReturn : Break::LineFeed;
            if (lastBreak == Break::None || lastBreak == kind) {
                m_service->pressReturn();
                lastBreak = kind;
            }
            ++i;
            continue;
        }
        lastBreak = Break::None;
        if (c.isHighSurrogate() && i + 1 < line.size() && line.at(i + 1).isLowSurrogate()) {
            m_service->typeCharacter(QChar::surrogateToUcs4(c, line.at(i + 1)));
            i += 2;
            continue;
        }
        if (!c.isSurrogate()) {
            m_service->typeCharacter(c.unicode());
        }
        ++i;
    }
    pressKeys(keys, next, std::numeric_limits<qint64>::max());

    if (capsLock) {
        m_service->toggleCapsLock();
    }
    m_service->flush();
}
