#pragma once

#include <QHostAddress>
#include <QMetaType>

// Addresses travel in queued signals and invocations (the pool's announcements, the module
// setters called across threads); Qt 5 does not declare the type itself.
Q_DECLARE_METATYPE(QHostAddress)
