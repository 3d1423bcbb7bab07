#pragma once

#include <QMetaType>
#include <QVector>

// A key pressed while a line is typed into another window: before the character at position,
// or after the last character when position is the line's length.
struct Keys
{
    // Index in the line before which the key is pressed.
    qint32 position = 0;
    // 1 Shift, 2 Ctrl, 4 Alt, held around the key.
    quint32 modifiers = 0;
    // The operating system's virtual-key code.
    quint32 key = 0;
};

Q_DECLARE_METATYPE(Keys)
// Lists are handed over by pointer, with ownership, also across queued connections.
Q_DECLARE_METATYPE(QVector<Keys>*)
