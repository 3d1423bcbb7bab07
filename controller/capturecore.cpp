#include "controller/capturecore.h"

#include "controller/cbalancecontroller.h"
#include "device/cdevice.h"
#include "log/datafeedtablemodel.h"
#include "log/logclock.h"

#include <QCoreApplication>
#include <QDate>
#include <QPointer>
#include <QTime>

#include <utility>

const char* const CaptureCore::UnknownSerial = "N/A";

namespace {
QPointer<CaptureCore> g_instance;
} // namespace

CaptureCore::CaptureCore(QObject* parent, const QSqlDatabase& db)
    : QObject(parent), m_model(new DataFeedTableModel(this, db))
{
    m_model->createTable();
    m_model->select();
    m_commitTimer.setSingleShot(true);
    m_commitTimer.setInterval(CommitIntervalMs);
    connect(&m_commitTimer, &QTimer::timeout, this, &CaptureCore::flush);
    // Whatever arrived last is stored before the program ends.
    if (QCoreApplication::instance()) {
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &CaptureCore::flush);
    }
    g_instance = this;
}

CaptureCore::~CaptureCore()
{
    flush();
}

CaptureCore* CaptureCore::instance()
{
    if (!g_instance) {
        // Lives as long as the application; whoever creates one of its own replaces it.
        g_instance = new CaptureCore(QCoreApplication::instance());
        g_instance->follow(CBalanceController::instance());
    }
    return g_instance;
}

void CaptureCore::follow(CBalanceController* balance)
{
    connect(balance, &CBalanceController::significantResultReceived, this, &CaptureCore::capture,
            Qt::UniqueConnection);
}

void CaptureCore::follow(CDevice* device)
{
    // The results the balance controller counts as significant: those asked for, and those streamed.
    connect(device, &CDevice::resultReceived, this, &CaptureCore::capture, Qt::UniqueConnection);
    connect(device, &CDevice::commandFinished, this,
            [this](int result, int command, const QVariant& response) {
                if (result == COMMAND_OK && (command == COMMAND_RESULT || command == COMMAND_STABLE_RESULT)) {
                    capture(response.value<Measurement>());
                }
            });
}

QStringList CaptureCore::rowFields(const Measurement& m)
{
    // The log's clock: the local time without a look at the zone file for each result.
    QDate date;
    QTime time;
    LogClock::now(date, time);
    const QString serial = m.serialNumber.isNull() ? QLatin1String(UnknownSerial) : m.serialNumber;
    return {date.toString(QLatin1String(DataFeedTableModel::DateFormat)),
            time.toString(QLatin1String(DataFeedTableModel::TimeFormat)),
            serial,
            m.valueText(),
            m.unit,
            QString()};
}

void CaptureCore::capture(Measurement m)
{
    // Stamped as it arrives, stored with the others that come before the commit.
    m_pending.push_back({rowFields(m), m});
    if (!m_commitTimer.isActive()) {
        m_commitTimer.start();
    }
}

void CaptureCore::flush()
{
    m_commitTimer.stop();
    if (m_pending.empty()) {
        return;
    }
    const std::vector<Pending> taken = std::exchange(m_pending, {});
    QVector<QStringList> rows;
    rows.reserve(int(taken.size()));
    for (const Pending& result : taken) {
        rows << result.fields;
    }
    // The model says on the status line why results wait or were refused.
    const QVector<qint64> counts = m_model->appendRows(rows);
    for (size_t i = 0; i < taken.size(); ++i) {
        emit resultCaptured(counts.value(int(i), -1), taken[i].fields, taken[i].m);
    }
}
