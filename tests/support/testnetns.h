#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// The two network namespaces of scripts/test-netns.sh for one test process: "a" plays the
// computer, "b" the instruments. enterA() moves the calling thread (the test's main thread,
// where its sockets live) into "a"; programs for "b" run through ip netns exec.
class TestNetns
{
public:
    TestNetns();
    ~TestNetns();

    // Creates the namespaces; false with the reason when this machine does not allow it.
    bool up(QString* reason);
    void down();
    bool isUp() const { return m_up; }

    bool enterA();
    bool leaveA();

    // NS_A, NS_B, A_ADDR, B_ADDR, B_FAR_ADDR, A_ADDR2, B_ADDR2, NETMASK, A_MAC, B_MAC, B_MAC2...
    QString value(const QString& key) const { return m_values.value(key); }
    // MAC of a veth interface in the form the servers pool compares ("be-5e-88-72-43-fa").
    QByteArray arpMac(const QString& key) const;

    // ip netns exec NS_B program arguments...: the program and arguments for a QProcess.
    QString program() const { return QStringLiteral("ip"); }
    QStringList inB(const QString& program, const QStringList& arguments) const;
    QStringList inA(const QString& program, const QStringList& arguments) const;

    static QString skipMessage(const QString& reason);

private:
    QString m_name;
    QMap<QString, QString> m_values;
    bool m_up = false;
    int m_hostNamespace = -1;
};
