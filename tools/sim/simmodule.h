#ifndef SIMMODULE_H
#define SIMMODULE_H

#include "simmodulesettings.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QObject>

class QUdpSocket;

// A network module inside an instrument, configured over UDP. The dialects differ in their datagrams; this
// base serves them on a UDP port and keeps the settings record.
//
// respond(datagram) gives the reply to one datagram at once (empty: no reply), for tests in-process;
// listen() serves the same over UDP, replies leaving from the module's own address.
class SimModule : public QObject
{
    Q_OBJECT

public:
    // Misbehaviour for exercising the application: replies cut short, every reply an error, or none.
    enum class Fault
    {
        None,
        Incomplete,
        Error,
        Silent,
    };

    explicit SimModule(const SimModuleSettings& settings, QObject* parent = nullptr);

    const SimModuleSettings& settings() const { return m_settings; }
    void setFault(Fault fault) { m_fault = fault; }
    void setVerbose(bool verbose) { m_verbose = verbose; }

    virtual QByteArray respond(const QByteArray& datagram) = 0;
    // The datagrams that answer one datagram; one reply, or none, unless a dialect splits it.
    virtual QByteArrayList replies(const QByteArray& datagram);
    virtual quint16 defaultPort() const = 0;
    virtual QByteArray dialectName() const = 0;
    // The dialect's status request, which searches broadcast.
    virtual bool isStatusRequest(const QByteArray& datagram) const = 0;

    // The first status request is answered first for count strangers as well, a few at a time: stranger
    // i has the MAC 02:ff and i in four bytes, and replies from the (i modulo senders)-th address after
    // firstSender (an address of this machine), so that one sender may claim several MACs.
    void setFlood(int count, const QHostAddress& firstSender, int senders);

    // Binds bindAddress:port (port 0 picks one); broadcasts arrive only with the any-address.
    bool listen(const QHostAddress& bindAddress, quint16 port, QString* error = nullptr);
    quint16 port() const;
    int datagramsReceived() const { return m_received; }

signals:
    // The TCP side of the instrument is to be (re)started as settings() now say.
    void roleApplied();

protected:
    // The IP layer after a DHCP switch: a lease keeps the module's own address, no server leaves none.
    void applyDhcp(bool dhcp);
    // A module that takes a static address given to it moves there, as a real one does: its replies
    // leave from it and its TCP side listens on it. False (and nothing changes) when it already is there,
    // or when this machine holds no such address to bind.
    bool moveToConfiguredAddress();
    static bool parseIPv4(const QByteArray& text, QHostAddress* address);
    static bool parsePort(const QByteArray& text, int low, quint16* port);

    SimModuleSettings m_settings;
    Fault m_fault = Fault::None;

private:
    void onReadyRead(QUdpSocket* socket);
    void reply(const QNetworkDatagram& request);
    // Sends the next strangers' replies, then the module's own once all are out.
    void floodNext();
    void log(const char* direction, const QByteArray& bytes) const;

    QUdpSocket* m_socket = nullptr;
    // Bound to the module's own address, so that replies leave from it even when the request came
    // as a broadcast to the any-address socket; null when that one is bound there already.
    QUdpSocket* m_ownSocket = nullptr;
    bool m_verbose = false;
    int m_received = 0;
    int m_floodCount = 0;
    int m_floodSenders = 1;
    QHostAddress m_floodFrom;
    // The status request being answered with a flood, and how many strangers replied so far.
    QNetworkDatagram m_floodRequest;
    int m_flooded = 0;
};

#endif // SIMMODULE_H
