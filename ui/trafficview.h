#pragma once

#include "device/devicetypes.h"
#include "log/pelmlogrecord.h"

#include <QPlainTextEdit>

// A plain running view of one device's traffic and results, newest line last.
class TrafficView : public QPlainTextEdit
{
    Q_OBJECT
public:
    static constexpr int MaxLines = 5000;

    explicit TrafficView(QWidget* parent = nullptr);

    // Each shown line is also written here when set (the demo shows traffic in its terminal).
    void setEchoToStdout(bool echo) { m_echo = echo; }

public slots:
    void onOutLog(const PelmLogRecord& r);
    void onInLog(const PelmLogRecord& r);
    void onResult(const Measurement& m);
    void onNote(const QString& text);

private:
    void addLine(const QString& line);

    bool m_echo = false;
};
