#pragma once

#include "ui/settings/settingscontroller.h"

#include <QAbstractItemModel>
#include <QFile>

// Shared by the capture, page, log view and start-up tests.

// The capture and terminal options back at their start values, for tests that change them.
inline void resetCaptureSettings()
{
    SettingsController& s = *SettingsController::instance();
    for (TwoStateElement* e : {&s.pasteToCursor, &s.saveToFile, &s.deviceIdField, &s.dateField, &s.countField,
                               &s.noteField, &s.autoSend, &s.betweenNone, &s.betweenSemicolon,
                               &s.betweenComma, &s.afterNone, &s.afterSemicolon, &s.terminalRawChunks}) {
        e->setState(false);
    }
    for (TwoStateElement* e :
         {&s.unitField, &s.betweenTab, &s.afterEnter, &s.terminalTime, &s.terminalEcho}) {
        e->setState(true);
    }
    s.autoSendUnit.setState(SettingsController::UnitSec);
    s.autoSendInterval.setState(5);
    // Files without a header row and with the chosen delimiter, as the capture tests compare them
    // (tst_transfer checks the header row and the delimiter a file's extension implies).
    s.headerRow.setState(false);
    s.isoDates.setState(false);
    s.delimiterChosen.setState(true);
}

// "INOUT|Message" of every row a log view's model shows.
inline QStringList shownLogRows(const QAbstractItemModel* model)
{
    QStringList rows;
    for (int r = 0; r < model->rowCount(); ++r) {
        rows << model->index(r, 2).data().toString() + QLatin1Char('|') +
                    model->index(r, 6).data().toString();
    }
    return rows;
}

// A file's bytes; none if it cannot be read.
inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
