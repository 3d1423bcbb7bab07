#ifndef SIMWIFIMODULE_H
#define SIMWIFIMODULE_H

#include "simmodule.h"

// The Wi-Fi module: AT commands on UDP port 65534, answered with "OK\r\n", "ERROR\r\n" or data. The IP and
// TCP settings are written as whole lines; a new TCP role starts with AT+ATCPSTART. A module outside the
// computer's subnet is chosen by AT+ASELECT=<its MAC>; others stay silent.
class SimWifiModule : public SimModule
{
    Q_OBJECT

public:
    static constexpr quint16 DefaultPort = 65534;

    using SimModule::SimModule;

    QByteArray respond(const QByteArray& datagram) override;
    quint16 defaultPort() const override { return DefaultPort; }
    QByteArray dialectName() const override { return "wifi"; }
    bool isStatusRequest(const QByteArray& datagram) const override { return datagram == "AT+ASTATUS?\r\n"; }

    // "02:00:4D:56:00:01"
    QByteArray macText() const;
    bool isSelected() const { return m_selected; }

private:
    QByteArray status() const;
    QByteArray configuration() const;
    QByteArray setIpLine(const QByteArray& arguments);
    QByteArray setTcpLine(const QByteArray& arguments);

    bool m_selected = false;
};

#endif // SIMWIFIMODULE_H
