#include "ui/settings/settingscontroller.h"

#include "log/datafeedtablemodel.h"

#include <QComboBox>
#include <QFileInfo>
#include <QPointer>
#include <QSpinBox>

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

QString SettingsController::fileFieldDelimiter(const QString& path) const
{
    if (!delimiterChosen.value()) {
        const QString suffix = QFileInfo(path).suffix().toLower();
        if (suffix == QLatin1String("csv")) {
            return QStringLiteral(",");
        }
        if (suffix == QLatin1String("tsv") || suffix == QLatin1String("txt")) {
            return QStringLiteral("\t");
        }
    }
    return fieldDelimiter();
}

QString SettingsController::dateFormat() const
{
    return isoDates.value() ? QStringLiteral("yyyy-MM-dd") : QLatin1String(DataFeedTableModel::DateFormat);
}

void SettingsController::bindAutoSendSpeed(QSpinBox* interval, QComboBox* unit)
{
    QPointer<QSpinBox> spin(interval);
    auto followUnit = [spin](int index) {
        if (spin) {
            spin->setMinimum(index == UnitMs ? MinAutoSendMs : 1);
        }
    };
    // The minimum goes first, so that binding cannot clamp a millisecond interval to 1.
    followUnit(autoSendUnit.value());
    connect(&autoSendUnit, &ComboElement::stateChanged, interval, followUnit);
    autoSendInterval.bind(interval);
    autoSendUnit.bind(unit);
}

const TwoStateElement* SettingsController::feedColumnOption(int column) const
{
    switch (column) {
    case DataFeedTableModel::CountColumn:
        return &countField;
    case DataFeedTableModel::DateColumn:
        return &dateField;
    case DataFeedTableModel::TimeColumn:
        return &timeField;
    case DataFeedTableModel::SnColumn:
        return &deviceIdField;
    case DataFeedTableModel::UnitColumn:
        return &unitField;
    case DataFeedTableModel::NoteColumn:
        return &noteField;
    default:
        return nullptr;
    }
}

bool SettingsController::isFeedColumnShown(int column) const
{
    const TwoStateElement* option = feedColumnOption(column);
    return option ? option->value() : column >= 0 && column < DataFeedTableModel::ColumnCount;
}
