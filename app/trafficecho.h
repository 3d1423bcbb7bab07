#pragma once

#include "device/devicetypes.h"
#include "log/pelmlogrecord.h"

#include <QObject>

#include <cstdio>

class CDevice;

// Prints the traffic of the instruments and their results on a stream (stdout), one line each, so that
// a terminal or a script can follow a fixed installation or the demo.
class TrafficEcho : public QObject
{
    Q_OBJECT
public:
    explicit TrafficEcho(std::FILE* out = stdout, QObject* parent = nullptr);

    // Prints the device's traffic from now on.
    void follow(CDevice* device);

public slots:
    void onOutLog(const PelmLogRecord& r);
    void onInLog(const PelmLogRecord& r);
    void onResult(const Measurement& m);
    void onState(int state);
    void onNote(const QString& text);

private:
    void print(const QString& line);

    std::FILE* m_out;
};
