#include "ui/startstopcontrol.h"

#include "ui/capture/applicationcontroller.h"
#include "ui/clickableframe.h"
#include "ui/icontint.h"
#include "ui/panelkit.h"

#include <QAbstractButton>
#include <QColor>
#include <QLabel>

StartStopControl::StartStopControl(ClickableFrame* frame, QAbstractButton* icon, QLabel* label,
                                   const QString& startText, const QString& shortStartText,
                                   const QString& startKey)
    : QObject(frame), m_icon(icon), m_label(label), m_startText(startText), m_shortStartText(shortStartText),
      m_startKey(startKey)
{
    ApplicationController* app = ApplicationController::instance();
    connect(frame, &ClickableFrame::clicked, this, &StartStopControl::onClicked);
    // The label's width is known only once the panel is laid out.
    connect(frame, &ClickableFrame::resized, this, [this] {
        if (m_label->text() != QLatin1String("STOP")) {
            fitStartText();
        }
    });
    connect(app, &ApplicationController::exportStarted, this, &StartStopControl::onExportStarted);
    connect(app, &ApplicationController::exportStopped, this, &StartStopControl::onExportStopped);
    if (app->isExporting()) {
        onExportStarted();
    } else {
        onExportStopped();
    }
}

void StartStopControl::onClicked()
{
    ApplicationController* app = ApplicationController::instance();
    if (m_label->text().contains(m_startKey)) {
        if (!app->startExport()) {
            PanelKit::showStartFailure(m_label->window());
        }
    } else {
        app->stopExport();
    }
}

void StartStopControl::onExportStarted()
{
    IconTint::setButtonIcon(m_icon, QLatin1String(StopIcon), QColor(StopColour));
    m_label->setText(QStringLiteral("STOP"));
}

void StartStopControl::onExportStopped()
{
    IconTint::setButtonIcon(m_icon, QLatin1String(StartIcon), QColor(StartColour));
    fitStartText();
}

void StartStopControl::fitStartText()
{
    // A label not laid out yet has no width to judge by; the frame's first resize decides.
    const bool fits =
        !m_label->isVisible() || m_label->fontMetrics().horizontalAdvance(m_startText) <= m_label->width();
    m_label->setText(fits ? m_startText : m_shortStartText);
}
