#include "log/centralforwarder.h"

#include "log/centralsender.h"
#include "platform/queuedcall.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QPointer>
#include <QSettings>
#include <QSqlDatabase>
#include <QUuid>

const char* const CentralForwarder::UriKey = "Central/uri";
const char* const CentralForwarder::StationKey = "Central/station";
const char* const CentralForwarder::TrafficKey = "Central/traffic";

namespace {
QPointer<CentralForwarder> g_instance;
} // namespace

CentralForwarder::CentralForwarder(const QString& uri, const QString& station, const QString& localFile,
                                   QObject* parent)
    : QObject(parent),
      m_localFile(
          localFile.isEmpty()
              ? QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false).databaseName()
              : localFile),
      m_station(station)
{
    m_thread.setObjectName(QStringLiteral("central"));
    setUri(uri);
    g_instance = this;
}

CentralForwarder::~CentralForwarder()
{
    dropSender();
    m_thread.quit();
    m_thread.wait();
}

CentralForwarder* CentralForwarder::instance()
{
    return g_instance;
}

void CentralForwarder::dropSender()
{
    if (!m_sender) {
        return;
    }
    CentralSender* sender = m_sender;
    m_sender = nullptr;
    // Closed and deleted in the thread that opened its connections; what it said last is stale.
    if (m_thread.isRunning()) {
        waitForCall(sender, [sender] { delete sender; });
    } else {
        delete sender;
    }
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
}

void CentralForwarder::setUri(const QString& uri)
{
    if (m_sender && uri == m_uri) {
        return;
    }
    dropSender();
    m_uri = uri;
    makeSender();
}

void CentralForwarder::setTraffic(bool on)
{
    if (on == m_traffic) {
        return;
    }
    dropSender();
    m_traffic = on;
    makeSender();
}

void CentralForwarder::makeSender()
{
    if (m_uri.isEmpty()) {
        setStatus(Off, QString());
        return;
    }
    m_sender = new CentralSender(m_localFile, m_uri, m_station, m_traffic);
    m_sender->moveToThread(&m_thread);
    connect(m_sender, &CentralSender::statusChanged, this, &CentralForwarder::onStatus);
    if (m_thread.isRunning()) {
        queueCall(m_sender, [sender = m_sender] { sender->pass(); });
    }
}

void CentralForwarder::setStatus(State state, const QString& text)
{
    m_state = state;
    if (text != m_text) {
        m_text = text;
        emit statusChanged(state, text);
    }
}

QString CentralForwarder::stationId()
{
    QSettings settings;
    QString id = settings.value(QLatin1String(StationKey)).toString();
    if (id.isEmpty()) {
        id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        settings.setValue(QLatin1String(StationKey), id);
        settings.sync();
    }
    return id;
}

QString CentralForwarder::configuredUri()
{
    return QSettings().value(QLatin1String(UriKey)).toString().trimmed();
}

bool CentralForwarder::configuredTraffic()
{
    return QSettings().value(QLatin1String(TrafficKey), false).toBool();
}

void CentralForwarder::start()
{
    if (m_thread.isRunning()) {
        return;
    }
    m_thread.start();
    if (m_sender) {
        queueCall(m_sender, [sender = m_sender] { sender->pass(); });
    }
}

void CentralForwarder::nudge()
{
    if (m_sender) {
        queueCall(m_sender, [sender = m_sender] { sender->nudge(); });
    }
}

bool CentralForwarder::finish(int ms)
{
    // A server away is not waited for: the rows go at the next start. A refusal is asked once more, as
    // it may be the traffic's only, while the results still go.
    if (!m_thread.isRunning() || !m_sender || m_state == Unreachable) {
        return m_state == UpToDate;
    }
    int state = Behind;
    CentralSender* sender = m_sender;
    waitForCall(sender, [sender, ms, &state] { state = sender->drain(ms); });
    // The last word of the sender is this side's too.
    QCoreApplication::sendPostedEvents(this);
    return state == UpToDate;
}

void CentralForwarder::onStatus(int state, qint64 waiting, const QDateTime& unreachableSince,
                                const QString& reason)
{
    // Grouped as the window's other English texts are, whatever the system's language.
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    QString text;
    switch (state) {
    case UpToDate:
        text = QStringLiteral("Central: up to date");
        break;
    case Behind:
        text = QStringLiteral("Central: %1 waiting").arg(english.toString(waiting));
        break;
    case Unreachable:
        text = QStringLiteral("Central: %1 waiting (server unreachable since %2)")
                   .arg(english.toString(waiting), unreachableSince.toString(QStringLiteral("HH:mm")));
        break;
    default:
        text = QStringLiteral("Central: refused (%1)").arg(reason);
        break;
    }
    m_waiting = waiting;
    setStatus(State(state), text);
}
