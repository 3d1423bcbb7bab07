#include "ui/settings/centralsettings.h"

#include "log/centralforwarder.h"
#include "log/centraluri.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>

CentralSettings::CentralSettings(QWidget* parent)
    : QWidget(parent), m_uri(new QLineEdit),
      m_traffic(new QCheckBox(QStringLiteral("Forward the traffic log too"))), m_problem(new QLabel)
{
    setObjectName(QStringLiteral("centralSettings"));
    m_uri->setObjectName(QStringLiteral("centralUriEdit"));
    m_uri->setPlaceholderText(QStringLiteral("postgresql://user@host:5432/dbname"));
    m_uri->setToolTip(QStringLiteral("The password goes into ~/.pgpass or PGPASSWORD, never here."));
    m_uri->setText(CentralForwarder::configuredUri());
    connect(m_uri, &QLineEdit::editingFinished, this, &CentralSettings::apply);
    m_traffic->setObjectName(QStringLiteral("centralTrafficCheck"));
    m_traffic->setToolTip(
        QStringLiteral("Every line sent to and received from the instruments, besides the results."));
    m_traffic->setChecked(CentralForwarder::configuredTraffic());
    connect(m_traffic, &QCheckBox::toggled, this, &CentralSettings::applyTraffic);

    auto* station = new QLabel(CentralForwarder::stationId());
    station->setObjectName(QStringLiteral("stationLabel"));
    station->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_problem->setObjectName(QStringLiteral("centralProblemLabel"));
    m_problem->setStyleSheet(QStringLiteral("color: #c0392b;"));
    m_problem->hide();

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("Central database:")), 0, 0);
    layout->addWidget(m_uri, 0, 1);
    layout->addWidget(m_traffic, 1, 1);
    layout->addWidget(new QLabel(QStringLiteral("Station:")), 2, 0);
    layout->addWidget(station, 2, 1);
    layout->addWidget(m_problem, 3, 1);
    layout->setColumnStretch(1, 1);
}

void CentralSettings::apply()
{
    const QString uri = m_uri->text().trimmed();
    const QString problem = uri.isEmpty() ? QString() : CentralUri::problem(uri);
    m_problem->setText(QStringLiteral("Not used: ") + problem);
    m_problem->setVisible(!problem.isEmpty());
    if (!problem.isEmpty() || uri == CentralForwarder::configuredUri()) {
        return;
    }
    QSettings settings;
    if (uri.isEmpty()) {
        settings.remove(QLatin1String(CentralForwarder::UriKey));
    } else {
        settings.setValue(QLatin1String(CentralForwarder::UriKey), uri);
    }
    if (CentralForwarder* central = CentralForwarder::instance()) {
        central->setUri(uri);
    }
}

void CentralSettings::applyTraffic(bool on)
{
    QSettings().setValue(QLatin1String(CentralForwarder::TrafficKey), on);
    if (CentralForwarder* central = CentralForwarder::instance()) {
        central->setTraffic(on);
    }
}
