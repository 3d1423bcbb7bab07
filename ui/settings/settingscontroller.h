#pragma once

#include "ui/settings/comboelement.h"
#include "ui/settings/lineelement.h"
#include "ui/settings/spinelement.h"
#include "ui/settings/twostateelement.h"

#include <QObject>

class QComboBox;
class QSpinBox;

// The program's option values. Every start begins from these defaults, which are also the states the
// pages' widgets are designed with; OptionStore then brings back the user's own choices.
class SettingsController : public QObject
{
    Q_OBJECT
public:
    static SettingsController* instance();

    // Interval units of the auto-send combo.
    enum IntervalUnit
    {
        UnitMs = 0,
        UnitSec = 1,
        UnitMin = 2,
        UnitHrs = 3
    };
    // Polling faster than this only floods the instrument.
    static constexpr int MinAutoSendMs = 250;

    TwoStateElement pasteToCursor{false};
    TwoStateElement saveToFile{false};
    TwoStateElement unitField{true};
    TwoStateElement deviceIdField{false};
    TwoStateElement dateField{false};
    TwoStateElement timeField{false};
    TwoStateElement countField{false};
    TwoStateElement noteField{false};
    TwoStateElement autoSend{false};
    TwoStateElement stableOnly{false};
    SpinElement autoSendInterval{5};
    ComboElement autoSendUnit{UnitSec};
    TwoStateElement betweenNone{false};
    TwoStateElement betweenSemicolon{false};
    TwoStateElement betweenTab{true};
    TwoStateElement betweenEnter{false};
    TwoStateElement betweenComma{false};
    TwoStateElement afterNone{false};
    TwoStateElement afterSemicolon{false};
    TwoStateElement afterTab{false};
    TwoStateElement afterEnter{true};
    TwoStateElement afterComma{false};
    // A file export begins with a row of column titles.
    TwoStateElement headerRow{true};
    // Dates as 2026-12-31 rather than 12-31-2026.
    TwoStateElement isoDates{false};
    // The user picked a field delimiter; until then an export file's extension decides it.
    TwoStateElement delimiterChosen{false};
    LineElement sendHotkey;
    LineElement tareHotkey;
    LineElement zeroHotkey;
    LineElement onOffHotkey;
    TwoStateElement autoConnect{false};
    // The current instrument is connected again by itself when its connection is lost.
    TwoStateElement autoReconnect{true};
    TwoStateElement terminalInOut{true};
    TwoStateElement terminalInterface{true};
    TwoStateElement terminalDate{true};
    TwoStateElement terminalTime{true};
    TwoStateElement terminalRawChunks{false};
    TwoStateElement terminalEcho{true};

    // Binds an interval spin box and its unit combo; the spin box's minimum follows the unit
    // (the floor in milliseconds, 1 otherwise).
    void bindAutoSendSpeed(QSpinBox* interval, QComboBox* unit);

    // The text between the fields of a result line and the text that ends it.
    QString fieldDelimiter() const;
    QString lineDelimiter() const;
    // The field delimiter of an export file: the chosen one, or until the user chose one, the one the
    // file's extension implies (.csv a comma, .tsv and .txt a tab).
    QString fileFieldDelimiter(const QString& path) const;
    // The date format of result lines and export files.
    QString dateFormat() const;

    // The option that shows a data feed column, on the page and in the exports; nullptr for the
    // columns always shown (the delete button's and the value).
    const TwoStateElement* feedColumnOption(int column) const;
    // Whether the data feed shows the column (DataFeedTableModel's column numbers).
    bool isFeedColumnShown(int column) const;

private:
    SettingsController() = default;
};
