#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSize>

class QAbstractButton;

// Monochrome icons are drawn once and painted in whatever colour a place needs.
namespace IconTint {

// The icon's pixmap at size with every opaque pixel painted in colour (source-in).
QPixmap tinted(const QIcon& icon, const QSize& size, const QColor& colour);

// Repaints the button's icon at its icon size in colour.
void tintButton(QAbstractButton* button, const QColor& colour);

// Sets icon (a resource path) on the button, painted in colour.
void setButtonIcon(QAbstractButton* button, const QString& path, const QColor& colour);

} // namespace IconTint
