#ifndef SIMTIBBOMODULE_H
#define SIMTIBBOMODULE_H

#include "simmodule.h"

class QTimer;

// The Tibbo Ethernet module: short commands without line end on UDP port 65535, one setting per command,
// every reply led by a status byte ("A" accepted, "C" refused). Settings are stored at once and take effect
// at the next start: "E" reboots without a reply, the module is deaf for a while and then starts its TCP
// side as the settings say.
class SimTibboModule : public SimModule
{
    Q_OBJECT

public:
    static constexpr quint16 DefaultPort = 65535;
    static const QList<int>& speeds();

    explicit SimTibboModule(const SimModuleSettings& settings, QObject* parent = nullptr);

    QByteArray respond(const QByteArray& datagram) override;
    QByteArrayList replies(const QByteArray& datagram) override;
    quint16 defaultPort() const override { return DefaultPort; }
    bool isStatusRequest(const QByteArray& datagram) const override { return datagram == "X"; }
    QByteArray dialectName() const override { return "tibbo"; }

    void setRebootTime(int ms) { m_rebootMs = qMax(0, ms); }
    // The status reply in two datagrams, the first ending before its third "/", as some modules send it.
    void setSplitStatus(bool split) { m_splitStatus = split; }
    bool isRebooting() const;
    int reboots() const { return m_reboots; }
    // "002.000.077.086.000.001"
    QByteArray macText() const;

private:
    QByteArray status() const;
    QByteArray get(const QByteArray& setting) const;
    QByteArray set(const QByteArray& setting, const QByteArray& value);
    bool isOwnMac(const QByteArray& text) const;

    QTimer* m_rebootTimer = nullptr;
    int m_rebootMs = 500;
    int m_reboots = 0;
    bool m_splitStatus = false;
};

#endif // SIMTIBBOMODULE_H
