#include "support/testnetns.h"

#include <QCoreApplication>
#include <QProcess>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace {

QString script()
{
    return QStringLiteral(MERVIK_SOURCE_DIR "/scripts/test-netns.sh");
}

} // namespace

TestNetns::TestNetns() : m_name(QStringLiteral("mervik-%1").arg(QCoreApplication::applicationPid())) {}

TestNetns::~TestNetns()
{
    down();
}

QString TestNetns::skipMessage(const QString& reason)
{
    return QStringLiteral("network namespaces cannot be made here (%1); these tests run as root, as in CI")
        .arg(reason);
}

bool TestNetns::up(QString* reason)
{
    if (m_up) {
        return true;
    }
    QProcess process;
    process.start(script(), {QStringLiteral("up"), m_name});
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(5000);
        *reason = QStringLiteral("the namespace helper did not finish");
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *reason = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        if (reason->isEmpty()) {
            *reason = QStringLiteral("the namespace helper failed");
        }
        return false;
    }
    const QStringList lines =
        QString::fromLocal8Bit(process.readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals > 0) {
            m_values.insert(line.left(equals), line.mid(equals + 1).trimmed());
        }
    }
    m_up = true;
    return true;
}

void TestNetns::down()
{
    leaveA();
    if (!m_up) {
        return;
    }
    QProcess::execute(script(), {QStringLiteral("down"), m_name});
    m_up = false;
}

bool TestNetns::enterA()
{
    if (!m_up) {
        return false;
    }
    if (m_hostNamespace < 0) {
        m_hostNamespace = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        if (m_hostNamespace < 0) {
            return false;
        }
    }
    const QByteArray path = "/var/run/netns/" + value(QStringLiteral("NS_A")).toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool entered = ::setns(fd, CLONE_NEWNET) == 0;
    ::close(fd);
    return entered;
}

bool TestNetns::leaveA()
{
    if (m_hostNamespace < 0) {
        return true;
    }
    const bool left = ::setns(m_hostNamespace, CLONE_NEWNET) == 0;
    ::close(m_hostNamespace);
    m_hostNamespace = -1;
    return left;
}

QByteArray TestNetns::arpMac(const QString& key) const
{
    return value(key).toLatin1().replace(':', '-').toLower();
}

QStringList TestNetns::inB(const QString& program, const QStringList& arguments) const
{
    return QStringList{QStringLiteral("netns"), QStringLiteral("exec"), value(QStringLiteral("NS_B")),
                       program} +
           arguments;
}

QStringList TestNetns::inA(const QString& program, const QStringList& arguments) const
{
    return QStringList{QStringLiteral("netns"), QStringLiteral("exec"), value(QStringLiteral("NS_A")),
                       program} +
           arguments;
}
