#pragma once

#include "device/devicetypes.h"

#include <QDateTime>
#include <QObject>
#include <QSqlDatabase>
#include <QStringList>

class CBalanceController;
class DataFeedTableModel;

// Captured results: takes each significant result of the balance controller, stamps it with the
// date, the time and the serial number of the instrument that sent it, and stores it in DATAFEED.
// Views, the capture export and the command line read the rows through its model; none of them
// stores a result, so a result is stored once whether or not a window shows it.
class CaptureCore : public QObject
{
    Q_OBJECT
public:
    // The serial number stored for a result that no instrument stamped.
    static const char* const UnknownSerial;

    explicit CaptureCore(QObject* parent = nullptr, const QSqlDatabase& db = QSqlDatabase::database());
    ~CaptureCore() override;

    // The program's capture: the last one created, or one on the default database, created on first
    // use when start-up has not created it.
    static CaptureCore* instance();

    DataFeedTableModel* model() const { return m_model; }

    // Takes the significant results of this controller from now on.
    void follow(CBalanceController* balance);

    // The stored fields of a result taken at that moment: DATE, TIME, SN, VAL, UNIT, NOTE.
    static QStringList rowFields(const Measurement& m, const QDateTime& at);

public slots:
    // Stamps and stores one result; the COUNT it got, 0 while it waits for the database, -1 when
    // even the waiting list refused it.
    qint64 capture(Measurement m);

signals:
    // A result was taken in (count as capture() returns it), after it was stored or began waiting.
    void resultCaptured(qint64 count, QStringList fields, Measurement m);

private:
    DataFeedTableModel* m_model;
};
