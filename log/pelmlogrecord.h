#pragma once

#include <QDate>
#include <QMetaType>
#include <QString>
#include <QTime>

// One logged piece of traffic, as sent or as received; it may hold several lines or end mid-line.
struct PelmLogRecord
{
    QString interface;
    QDate date;
    QTime time;
    QString message;
};

Q_DECLARE_METATYPE(PelmLogRecord)
