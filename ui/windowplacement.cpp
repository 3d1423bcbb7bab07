#include "ui/windowplacement.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>

#include <algorithm>

namespace {

// rect inside area as far as it goes, no smaller than minimum; at area's top-left when too large.
QRect fitted(QRect rect, const QRect& area, const QSize& minimum)
{
    rect.setWidth(std::max(minimum.width(), std::min(rect.width(), area.width())));
    rect.setHeight(std::max(minimum.height(), std::min(rect.height(), area.height())));
    rect.moveLeft(std::max(area.left(), std::min(rect.left(), area.right() + 1 - rect.width())));
    rect.moveTop(std::max(area.top(), std::min(rect.top(), area.bottom() + 1 - rect.height())));
    return rect;
}

} // namespace

QRect WindowPlacement::startGeometry(const QRect& saved, const QList<QRect>& screens, const QPoint& pointer,
                                     const QSize& minimum)
{
    if (screens.isEmpty()) {
        return QRect(QPoint(0, 0), saved.isValid() ? saved.size().expandedTo(minimum) : minimum);
    }
    if (saved.isValid()) {
        for (const QRect& screen : screens) {
            if (screen.contains(saved.center())) {
                return fitted(saved, screen, minimum);
            }
        }
    }
    QRect screen = screens.constFirst();
    for (const QRect& candidate : screens) {
        if (candidate.contains(pointer)) {
            screen = candidate;
            break;
        }
    }
    QRect rect(QPoint(0, 0), screen.size() * (100 - 2 * FreePercent) / 100);
    rect.moveCenter(screen.center());
    return fitted(rect, screen, minimum);
}

void WindowPlacement::restore(QWidget* window)
{
    QList<QRect> screens;
    const QList<QScreen*> all = QGuiApplication::screens();
    for (const QScreen* screen : all) {
        screens << screen->availableGeometry();
    }
    const QSettings settings;
    const QRect saved = settings.value(QLatin1String(GeometryKey)).toRect();
    const QRect rect = startGeometry(saved, screens, QCursor::pos(), window->minimumSize());
    window->setGeometry(rect);
    // Maximised on the screen it opens on, with its normal geometry kept for a restore.
    if (settings.value(QLatin1String(MaximizedKey), false).toBool()) {
        window->setWindowState(window->windowState() | Qt::WindowMaximized);
    }
}

void WindowPlacement::save(const QWidget* window)
{
    QSettings settings;
    settings.setValue(QLatin1String(GeometryKey), window->normalGeometry());
    settings.setValue(QLatin1String(MaximizedKey), window->isMaximized());
}
