#pragma once

#include "device/cdevice.h"
#include "interface/ctibbo.h"
#include "support/fakeinterface.h"

#include <QHash>

// A current instrument on a scripted transport (fake) that answers the lines it knows, for the
// controller and window tests; it opens the few internals they drive.
class ScriptedDevice : public CDevice
{
public:
    static QHash<QString, QByteArray> instrumentAnswers()
    {
        return {{"SI\r\n", "    12.345 g  \r\n"},
                {"Sx1\r\n", "    12.345 g  \r\n"},
                {"Sx3\r\n", "S    12.345 g  \r\n"},
                {"ST\r\n", "MT\r\n"},
                {"SZ\r\n", "MZ\r\n"},
                {"SL1.5\r\n", "ML\r\n"},
                {"SH1.5\r\n", "MH\r\n"},
                {"SM1.5\r\n", "MM\r\n"},
                {"SW9\r\n", "PS 750.X2\r\n123456\r\n2021-03-04\r\n1.04.7\r\n"}};
    }

    explicit ScriptedDevice(const QHash<QString, QByteArray>& answers = instrumentAnswers())
        : fake(new FakeInterface)
    {
        fake->setResponder([answers](const QString& line) {
            return answers.contains(line) ? QList<QByteArray>{answers.value(line)} : QList<QByteArray>();
        });
        adoptInterface(fake);
    }

    // Held, the identity is read only when the test calls finishCommand for it.
    bool readInfo() override { return holdIdentity ? false : CDevice::readInfo(); }
    void setBusyFlag(bool busy) { setBusy(busy); }
    void finishFirmware(int result) { emit sendingFirmwareFinished(result); }
    void finishCommand(int result, int command) { emit commandFinished(result, command); }
    // A network module bound on loopback, for pages that look for one; nothing is sent to it.
    void giveLoopbackModule()
    {
        setModule(new CTibbo(QHostAddress::LocalHost, 0xff000000, QByteArray(),
                             QHostAddress(QStringLiteral("127.0.0.2"))));
    }

    using CDevice::m_deviceType;
    using CDevice::m_model;
    using CDevice::m_serialNumber;
    using CDevice::m_unreachableReasons;
    FakeInterface* fake;
    bool holdIdentity = false;
};
