#pragma once

#include "support/childprocess.h"

#include <QHostAddress>
#include <QMap>
#include <QString>
#include <QStringList>

// The two network namespaces of scripts/test-netns.sh for one test process: "a" plays the
// computer, "b" the instruments. enter() (in initTestCase, before any socket or thread is made)
// moves the test's main thread into "a"; programs for "b" run through ip netns exec. Both
// namespaces go when the fixture does.
//
//   TestNetns m_netns{MERVIK_SIM_PATH};
//   void initTestCase() { m_netns.enter(); }
//   void someTest() { REQUIRE_NETNS(m_netns); ChildProcess sim; m_netns.startSim(sim, {...}); }
class TestNetns
{
public:
    explicit TestNetns(QString simulator = QString());
    ~TestNetns();

    // Creates the namespaces and enters "a"; false (skipMessage() says why) when not allowed here.
    bool enter();
    bool isInside() const { return m_inside; }
    QString skipMessage() const;

    // NS_A, NS_B, A_ADDR, B_ADDR, B_FAR_ADDR, A_ADDR2, B_ADDR2, FLOOD_FROM, NETMASK, A_MAC, B_MAC, B_MAC2...
    QString value(const QString& key) const { return m_values.value(key); }
    QHostAddress address(const QString& key) const { return QHostAddress(value(key)); }
    // "address:port" of the address under key.
    QString target(const QString& key, int port) const;
    // MAC of a veth interface in the form the servers pool compares ("be-5e-88-72-43-fa").
    QByteArray arpMac(const QString& key) const;

    // Runs program in "b" for as long as child lives; false when it did not start.
    bool startInB(ChildProcess& child, const QString& program, const QStringList& arguments) const;
    // The simulator in "b", bounded in time even if the test dies.
    bool startSim(ChildProcess& child, const QStringList& arguments) const;
    // Runs program in "a" to its end (at most ms); false when it did not finish.
    bool runInA(QProcess& process, const QString& program, const QStringList& arguments,
                int ms = 20000) const;

private:
    bool up();
    void down();
    // ip netns exec NAME program arguments..., for the namespace named under key.
    QStringList inNamespace(const QString& key, const QString& program, const QStringList& arguments) const;

    QString m_name;
    QString m_simulator;
    QString m_reason;
    QMap<QString, QString> m_values;
    bool m_up = false;
    bool m_inside = false;
    int m_hostNamespace = -1;
};

// Skips the calling test function when the namespaces could not be made.
#define REQUIRE_NETNS(netns)                                                                                 \
    do {                                                                                                     \
        if (!(netns).isInside()) {                                                                           \
            QSKIP(qPrintable((netns).skipMessage()));                                                        \
        }                                                                                                    \
    } while (false)
