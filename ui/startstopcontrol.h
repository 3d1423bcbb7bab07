#pragma once

#include <QObject>
#include <QString>

class ClickableFrame;
class QAbstractButton;
class QLabel;

// The start/stop frame of the capture panels. Its label says what a click does: while it holds the
// start key ("AUTO" or "START") a click starts the capture, otherwise it stops it. The label and the
// icon follow the capture export, so every panel shows the same state whoever started it.
class StartStopControl : public QObject
{
    Q_OBJECT
public:
    static constexpr const char* StartIcon = ":/Resources/start.svg";
    static constexpr const char* StopIcon = ":/Resources/stop.svg";
    static constexpr const char* StartColour = "#797979";
    static constexpr const char* StopColour = "#ff4141";

    // startText is shown while idle, shortStartText instead when startText does not fit the label;
    // both contain startKey.
    StartStopControl(ClickableFrame* frame, QAbstractButton* icon, QLabel* label, const QString& startText,
                     const QString& shortStartText, const QString& startKey);

public slots:
    void onClicked();
    void onExportStarted();
    void onExportStopped();

private:
    void fitStartText();

    QAbstractButton* m_icon;
    QLabel* m_label;
    QString m_startText;
    QString m_shortStartText;
    QString m_startKey;
};
