#pragma once

#include "interface/cinterfacemodule.h"

#include <QByteArrayList>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QUdpSocket>

#include <functional>
#include <memory>

// The module's side of the UDP exchange on loopback: records what arrives and answers through a
// responder. A second peer on another loopback address and the same port plays "the module
// answering from elsewhere".
class ModulePeer
{
public:
    using Responder = std::function<QByteArrayList(const QByteArray& datagram)>;

    explicit ModulePeer(const QHostAddress& address, quint16 port = 0)
    {
        socket.bind(address, port);
        QObject::connect(&socket, &QUdpSocket::readyRead, [this] {
            while (socket.hasPendingDatagrams()) {
                const QNetworkDatagram d = socket.receiveDatagram();
                received << d.data();
                lastSender = d.senderAddress();
                lastSenderPort = quint16(d.senderPort());
                if (responder) {
                    for (const QByteArray& reply : responder(d.data())) {
                        socket.writeDatagram(reply, lastSender, lastSenderPort);
                    }
                }
            }
        });
    }

    quint16 port() const { return socket.localPort(); }
    bool waitForDatagrams(int count, int ms = 3000)
    {
        QSignalSpy spy(&socket, &QUdpSocket::readyRead);
        while (received.size() < count) {
            if (!spy.wait(ms)) {
                return received.size() >= count;
            }
        }
        return true;
    }
    void reply(const QByteArray& bytes) { socket.writeDatagram(bytes, lastSender, lastSenderPort); }
    void replyTo(const ModulePeer& other, const QByteArray& bytes)
    {
        socket.writeDatagram(bytes, other.lastSender, other.lastSenderPort);
    }

    QUdpSocket socket;
    QByteArrayList received;
    QHostAddress lastSender;
    quint16 lastSenderPort = 0;
    Responder responder;
};

// Every signal a module sends, so that a test can say "exactly this one and nothing else".
struct ModuleSpies
{
    explicit ModuleSpies(CInterfaceModule* module)
        : info(module, &CInterfaceModule::infoReady), timeout(module, &CInterfaceModule::commandTimeout),
          failed(module, &CInterfaceModule::commandFailed), ok(module, &CInterfaceModule::commandOk),
          list(module, &CInterfaceModule::commandsListFinished), out(module, &CInterfaceModule::newOutLog),
          in(module, &CInterfaceModule::newInLog)
    {
    }

    int outcomes() const { return info.count() + timeout.count() + failed.count() + ok.count(); }
    // "info", "timeout", "failed", "ok", "" (none yet) or "several".
    QString outcome() const
    {
        if (outcomes() > 1) {
            return QStringLiteral("several");
        }
        return info.count()      ? QStringLiteral("info")
               : timeout.count() ? QStringLiteral("timeout")
               : failed.count()  ? QStringLiteral("failed")
               : ok.count()      ? QStringLiteral("ok")
                                 : QString();
    }
    QStringList sent() const
    {
        QStringList texts;
        for (const QList<QVariant>& args : out) {
            texts << args.at(0).value<PelmLogRecord>().message;
        }
        return texts;
    }
    QStringList sentTo() const
    {
        QStringList texts;
        for (const QList<QVariant>& args : out) {
            texts << args.at(0).value<PelmLogRecord>().interface;
        }
        return texts;
    }
    QStringList receivedFrom() const
    {
        QStringList texts;
        for (const QList<QVariant>& args : in) {
            texts << args.at(0).value<PelmLogRecord>().interface;
        }
        return texts;
    }

    QSignalSpy info;
    QSignalSpy timeout;
    QSignalSpy failed;
    QSignalSpy ok;
    QSignalSpy list;
    QSignalSpy out;
    QSignalSpy in;
};
