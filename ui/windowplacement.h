#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

// Where the host window opens: where the user left it, or, the first time and when the screen it was
// on is gone, centred on the screen that holds the pointer and fitted to it.
class WindowPlacement
{
public:
    // Settings keys of the window's last normal geometry and whether it was maximised.
    static constexpr const char* GeometryKey = "Window/geometry";
    static constexpr const char* MaximizedKey = "Window/maximized";
    // Part of each side of the screen that a first start leaves free.
    static constexpr int FreePercent = 5;

    // The start geometry for a window of at least minimum: saved (invalid when there is none) when a
    // screen of screens (available areas) holds its centre, moved and shrunk onto that screen;
    // otherwise centred on the screen that holds pointer, or on the first.
    static QRect startGeometry(const QRect& saved, const QList<QRect>& screens, const QPoint& pointer,
                               const QSize& minimum);

    // Places window as the settings say, maximised again if it was; before it is shown.
    static void restore(QWidget* window);
    // Keeps window's normal geometry and maximised state in the settings.
    static void save(const QWidget* window);
};
