#pragma once

#include "device/cdevice.h"

// The device the program creates for every instrument: it finds out at run time whether the
// instrument is of the current generation or an older one without echo, identity and marked results.
// It shares the meta-object of CDevice and adds no signals or slots.
class CDeviceOld : public CDevice
{
public:
    enum ProtocolMode
    {
        ModeUnknown = -1,
        ModeOlder = 0,
        ModeCurrent = 1
    };

    static constexpr int ProbeEchoTimeoutMs = 200;
    static constexpr int OldResultTimeoutMs = 300;
    static constexpr int OldResultAttempts = 2;
    static constexpr int OldInfoTimeoutMs = 500;
    static constexpr int OldInfoAttempts = 2;
    static constexpr int InfoResultAttempts = 2;

    explicit CDeviceOld(QObject* parent = nullptr);

    int protocolMode() const { return m_protocolMode; }

    bool setBaudRate(int baudRate) override;
    QString resultWithStb() override;
    bool checkEcho() override;
    bool readInfo() override;
    bool checkCommunication(int result) override;

private:
    int m_protocolMode = ModeUnknown;
};
