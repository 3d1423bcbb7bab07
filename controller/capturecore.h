#pragma once

#include "device/devicetypes.h"

#include <QDateTime>
#include <QObject>
#include <QSqlDatabase>
#include <QStringList>
#include <QTimer>

#include <vector>

class CBalanceController;
class CDevice;
class DataFeedTableModel;

// Captured results: takes each significant result of the balance controller, stamps it with the
// date, the time and the serial number of the instrument that sent it, and stores it in DATAFEED.
// Views, the capture export and the command line read the rows through its model; none of them
// stores a result, so a result is stored once whether or not a window shows it. Results that arrive
// together are stored in one transaction, committed within CommitIntervalMs of the first of them; a
// row is shown, typed or exported only once it is committed.
class CaptureCore : public QObject
{
    Q_OBJECT
public:
    // The serial number stored for a result that no instrument stamped.
    static const char* const UnknownSerial;
    // The longest a result waits before it is committed: a killed program loses no more than this.
    static constexpr int CommitIntervalMs = 50;

    explicit CaptureCore(QObject* parent = nullptr, const QSqlDatabase& db = QSqlDatabase::database());
    ~CaptureCore() override;

    // The program's capture: the last one created, or one on the default database, created on first
    // use when start-up has not created it.
    static CaptureCore* instance();

    DataFeedTableModel* model() const { return m_model; }

    // Takes the significant results of this controller from now on.
    void follow(CBalanceController* balance);
    // Takes the results of this instrument itself, whichever thread it lives in: a capture of several
    // instruments at once follows each, without the controllers, which follow only the current one.
    void follow(CDevice* device);

    // The stored fields of a result taken now: DATE, TIME, SN, VAL, UNIT, NOTE.
    static QStringList rowFields(const Measurement& m);

public slots:
    // Stamps one result and stores it with the others that arrive within CommitIntervalMs.
    void capture(Measurement m);
    // Stores the results taken so far, at once.
    void flush();

signals:
    // A result was taken in, after it was stored (count is its COUNT) or began waiting for the
    // database (0) or was refused because too many wait (-1).
    void resultCaptured(qint64 count, QStringList fields, Measurement m);

private:
    struct Pending
    {
        QStringList fields;
        Measurement m;
    };

    DataFeedTableModel* m_model;
    std::vector<Pending> m_pending;
    QTimer m_commitTimer;
};
