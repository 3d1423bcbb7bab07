#pragma once

#include "interface/cinterfacemodule.h"
#include "support/recordfields.h"

#include <QByteArrayList>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

#include <functional>

// Module tests on loopback: the computer, the module, and the module answering from elsewhere.
inline const QHostAddress LocalHost(QStringLiteral("127.0.0.1"));
inline const QHostAddress ModuleHost(QStringLiteral("127.0.0.2"));
inline const QHostAddress OtherHost(QStringLiteral("127.0.0.3"));

// The module's side of the UDP exchange: records what arrives and answers through a responder
// (an empty answer is none).
class ModulePeer
{
public:
    using Responder = std::function<QByteArray(const QByteArray& datagram)>;

    explicit ModulePeer(const QHostAddress& address, quint16 port = 0)
    {
        socket.bind(address, port);
        QObject::connect(&socket, &QUdpSocket::readyRead, [this] {
            while (socket.hasPendingDatagrams()) {
                const QNetworkDatagram d = socket.receiveDatagram();
                received << d.data();
                lastSender = d.senderAddress();
                lastSenderPort = quint16(d.senderPort());
                const QByteArray answer = responder ? responder(d.data()) : QByteArray();
                if (!answer.isEmpty()) {
                    reply(answer);
                }
            }
        });
    }

    quint16 port() const { return socket.localPort(); }
    bool waitForDatagrams(int count)
    {
        QSignalSpy spy(&socket, &QUdpSocket::readyRead);
        while (received.size() < count && spy.wait(3000)) {
        }
        return received.size() >= count;
    }
    void reply(const QByteArray& bytes) { socket.writeDatagram(bytes, lastSender, lastSenderPort); }

    QUdpSocket socket;
    QByteArrayList received;
    QHostAddress lastSender;
    quint16 lastSenderPort = 0;
    Responder responder;
};

// A dialect on the peer's port instead of its own, so that tests never meet each other, with a
// record whose fields the whole-line commands send again.
template <class Dialect> class OnLoopback : public Dialect
{
public:
    OnLoopback(quint16 port, QByteArray mac) : Dialect(LocalHost, 0xff000000, std::move(mac), ModuleHost)
    {
        this->m_udp_port = port;
        this->m_port = this->m_remote_port = 1001;
        this->m_remote_ip = QHostAddress(QStringLiteral("192.168.1.10"));
        this->m_gateway = QHostAddress(QStringLiteral("192.168.1.1"));
        this->m_netmask = QHostAddress(QStringLiteral("255.255.255.0"));
    }
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

    int outcomes() const
    {
        return info.count() + timeout.count() + failed.count() + ok.count() + list.count();
    }
    // "info", "timeout", "failed", "ok", "list RESULT", "" (none yet) or "several".
    QString outcome() const
    {
        return outcomes() > 1    ? QStringLiteral("several")
               : info.count()    ? QStringLiteral("info")
               : timeout.count() ? QStringLiteral("timeout")
               : failed.count()  ? QStringLiteral("failed")
               : ok.count()      ? QStringLiteral("ok")
               : list.count()    ? QStringLiteral("list %1").arg(list.at(0).at(0).toInt())
                                 : QString();
    }
    // The log records' interfaces ("address,port") or texts.
    static QStringList field(const QSignalSpy& spy, QString PelmLogRecord::*member)
    {
        QStringList texts;
        for (const QList<QVariant>& args : spy) {
            texts << args.at(0).value<PelmLogRecord>().*member;
        }
        return texts;
    }
    QStringList sent() const { return field(out, &PelmLogRecord::message); }
    QStringList sentTo() const { return field(out, &PelmLogRecord::interface); }
    QStringList receivedFrom() const { return field(in, &PelmLogRecord::interface); }

    QSignalSpy info;
    QSignalSpy timeout;
    QSignalSpy failed;
    QSignalSpy ok;
    QSignalSpy list;
    QSignalSpy out;
    QSignalSpy in;
};

// The settings record as "name=value" fields, for one comparison per case (see withFields).
inline QString record(const CInterfaceModule& m)
{
    return QStringList{"mac=" + QString::fromLatin1(m.mac()),
                       QStringLiteral("dhcp=%1").arg(m.dhcp()),
                       QStringLiteral("obtained=%1").arg(m.ipObtained()),
                       "ip=" + m.ip().toString(),
                       "gateway=" + m.gateway().toString(),
                       "netmask=" + m.netmask().toString(),
                       QStringLiteral("routing=%1").arg(m.routingMode()),
                       "remote=" + m.remoteIp().toString(),
                       QStringLiteral("port=%1").arg(m.port()),
                       QStringLiteral("remotePort=%1").arg(m.remotePort()),
                       QStringLiteral("protocol=%1").arg(m.protocol()),
                       QStringLiteral("baud=%1").arg(m.baudrate()),
                       "module=" + m.moduleAddress().toString()}
        .join(QLatin1Char(' '));
}

// A dialect's exchanges as a table, a row each: the datagrams the operation sends, one after the
// other's reply, separated by "|" (none: it ends at once or never), the peer's replies likewise (the last
// repeats), the single outcome ("" while the time-out runs again), the fields of the record that change, and
// the operation (last, so that a row stays one call).
using Operation = std::function<void(CInterfaceModule&)>;
Q_DECLARE_METATYPE(Operation)

inline void exchangeColumns()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("changes");
}

inline void exchange(const char* name, const QByteArray& sent, const QByteArray& reply,
                     const QString& outcome, const QString& changes, const Operation& operation)
{
    QTest::newRow(name) << operation << sent << reply << outcome << changes;
}

template <class Dialect> void checkExchange(const QByteArray& mac)
{
    QFETCH(Operation, operation);
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, reply);
    QFETCH(QString, outcome);
    QFETCH(QString, changes);

    ModulePeer peer(ModuleHost);
    OnLoopback<Dialect> module(peer.port(), mac);
    ModuleSpies spies(&module);
    const QString expected = withFields(record(module), changes);

    const QByteArrayList datagrams = sent.isEmpty() ? QByteArrayList() : sent.split('|');
    const QByteArrayList replies = reply.split('|');
    operation(module);
    for (int i = 0; i < datagrams.size(); ++i) {
        QVERIFY(peer.waitForDatagrams(i + 1));
        peer.reply(replies.value(i, replies.last()));
    }
    QTRY_COMPARE(spies.in.count(), datagrams.size());
    QCOMPARE(peer.received, datagrams);
    QCOMPARE(spies.out.count(), datagrams.size());
    QTRY_COMPARE(spies.outcome(), outcome);
    QCOMPARE(record(module), expected);
    QCOMPARE(module.isTimeoutTimerActive(), !sent.isEmpty() && outcome.isEmpty());
}
