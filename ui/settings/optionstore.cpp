#include "ui/settings/optionstore.h"

#include "ui/capture/applicationcontroller.h"
#include "ui/settings/settingscontroller.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <array>

namespace {

const QString Group = QStringLiteral("Transfer/");

QString key(const char* name)
{
    return Group + QLatin1String(name);
}

struct Flag
{
    const char* name;
    TwoStateElement SettingsController::*element;
};

const Flag Flags[] = {
    {"textField", &SettingsController::pasteToCursor},
    {"count", &SettingsController::countField},
    {"date", &SettingsController::dateField},
    {"time", &SettingsController::timeField},
    {"serialNumber", &SettingsController::deviceIdField},
    {"unit", &SettingsController::unitField},
    {"note", &SettingsController::noteField},
    {"autoSend", &SettingsController::autoSend},
    {"stableOnly", &SettingsController::stableOnly},
    {"headerRow", &SettingsController::headerRow},
    {"isoDates", &SettingsController::isoDates},
    {"delimiterChosen", &SettingsController::delimiterChosen},
};

using Group5 = std::array<TwoStateElement*, 5>;

// None, semicolon, tab, enter, comma: stored as the index of the one that is on.
Group5 betweenGroup(SettingsController* s)
{
    return {&s->betweenNone, &s->betweenSemicolon, &s->betweenTab, &s->betweenEnter, &s->betweenComma};
}

Group5 afterGroup(SettingsController* s)
{
    return {&s->afterNone, &s->afterSemicolon, &s->afterTab, &s->afterEnter, &s->afterComma};
}

void restoreGroup(const Group5& group, const QVariant& stored)
{
    bool ok = false;
    const int chosen = stored.toInt(&ok);
    if (!ok || chosen < 0 || chosen >= int(group.size())) {
        return;
    }
    // The chosen one first: the others of an exclusive group of buttons cannot be switched off before.
    group[chosen]->setState(true);
    for (int i = 0; i < int(group.size()); ++i) {
        if (i != chosen) {
            group[i]->setState(false);
        }
    }
}

} // namespace

OptionStore::OptionStore(QObject* parent) : QObject(parent)
{
    restore();
    storeChanges();
}

void OptionStore::restore()
{
    SettingsController* s = SettingsController::instance();
    QSettings store;
    if (!store.contains(key("headerRow"))) {
        // Files of an earlier version had no header row; whoever reads them keeps getting them so.
        // New settings begin with one.
        const bool earlier = !store.allKeys().isEmpty();
        store.setValue(key("headerRow"), !earlier);
    }
    for (const Flag& flag : Flags) {
        const QVariant value = store.value(key(flag.name));
        if (value.isValid()) {
            (s->*flag.element).setState(value.toBool());
        }
    }
    // The unit first: it decides the interval's minimum.
    bool ok = false;
    const int unit = store.value(key("intervalUnit")).toInt(&ok);
    if (ok && unit >= SettingsController::UnitMs && unit <= SettingsController::UnitHrs) {
        s->autoSendUnit.setState(unit);
    }
    const int interval = store.value(key("interval")).toInt(&ok);
    if (ok && interval >= 1) {
        s->autoSendInterval.setState(interval);
    }
    restoreGroup(betweenGroup(s), store.value(key("fieldDelimiter")));
    restoreGroup(afterGroup(s), store.value(key("lineDelimiter")));
    // A file whose folder is gone is not chosen again: the next start would only be refused.
    const QString file = store.value(key("file")).toString();
    if (!file.isEmpty() && QFileInfo(file).absoluteDir().exists()) {
        ApplicationController::instance()->restoreFile(file);
    }
}

void OptionStore::storeChanges()
{
    SettingsController* s = SettingsController::instance();
    for (const Flag& flag : Flags) {
        const QString name = key(flag.name);
        connect(&(s->*flag.element), &TwoStateElement::stateChanged, this,
                [name](bool value) { QSettings().setValue(name, value); });
    }
    connect(&s->autoSendUnit, &ComboElement::stateChanged, this,
            [](int unit) { QSettings().setValue(key("intervalUnit"), unit); });
    connect(&s->autoSendInterval, &SpinElement::stateChanged, this,
            [](int interval) { QSettings().setValue(key("interval"), interval); });
    const std::pair<Group5, const char*> groups[] = {{betweenGroup(s), "fieldDelimiter"},
                                                     {afterGroup(s), "lineDelimiter"}};
    for (const auto& entry : groups) {
        const Group5 group = entry.first;
        const QString name = key(entry.second);
        // The one switched on is the choice, whichever order the group's buttons tell it in.
        for (int i = 0; i < int(group.size()); ++i) {
            connect(group[i], &TwoStateElement::stateChanged, this, [i, name](bool on) {
                if (on) {
                    QSettings().setValue(name, i);
                }
            });
        }
    }
    // The path alone: "File" is on exactly while there is one.
    connect(ApplicationController::instance(), &ApplicationController::newFilePath, this,
            [](const QString& path) { QSettings().setValue(key("file"), path); });
}
