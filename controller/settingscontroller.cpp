#include "controller/settingscontroller.h"

namespace {
QString delimiter(bool none, bool semicolon, bool tab, bool enter, bool comma)
{
    if (enter) {
        return QStringLiteral("\n");
    }
    if (tab) {
        return QStringLiteral("\t");
    }
    if (semicolon) {
        return QStringLiteral(";");
    }
    if (comma && !none) {
        return QStringLiteral(",");
    }
    return QString();
}
} // namespace

SettingsController* SettingsController::instance()
{
    static SettingsController controller;
    return &controller;
}

QString SettingsController::fieldDelimiter() const
{
    return delimiter(betweenNone.value(), betweenSemicolon.value(), betweenTab.value(), betweenEnter.value(),
                     betweenComma.value());
}

QString SettingsController::lineDelimiter() const
{
    return delimiter(afterNone.value(), afterSemicolon.value(), afterTab.value(), afterEnter.value(),
                     afterComma.value());
}
