#include "controller/capturecore.h"

#include "controller/cbalancecontroller.h"
#include "log/datafeedtablemodel.h"

#include <QCoreApplication>
#include <QPointer>

const char* const CaptureCore::UnknownSerial = "N/A";

namespace {
QPointer<CaptureCore> g_instance;
} // namespace

CaptureCore::CaptureCore(QObject* parent, const QSqlDatabase& db)
    : QObject(parent), m_model(new DataFeedTableModel(this, db))
{
    m_model->createTable();
    m_model->select();
    g_instance = this;
}

CaptureCore::~CaptureCore() = default;

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

QStringList CaptureCore::rowFields(const Measurement& m, const QDateTime& at)
{
    const QString serial = m.serialNumber.isNull() ? QLatin1String(UnknownSerial) : m.serialNumber;
    return {at.date().toString(QStringLiteral("MM-dd-yyyy")),
            at.time().toString(QStringLiteral("HH:mm:ss")),
            serial,
            m.valueText(),
            m.unit,
            QString()};
}

qint64 CaptureCore::capture(Measurement m)
{
    const QStringList fields = rowFields(m, QDateTime::currentDateTime());
    // The model says on the status line why a result waits or was refused.
    const qint64 count = m_model->appendRow(fields);
    emit resultCaptured(count, fields, m);
    return count;
}
