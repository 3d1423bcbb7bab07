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

TestNetns::TestNetns(QString simulator)
    : m_name(QStringLiteral("mervik-%1").arg(QCoreApplication::applicationPid())),
      m_simulator(std::move(simulator))
{
}

TestNetns::~TestNetns()
{
    down();
}

QString TestNetns::skipMessage() const
{
    return QStringLiteral("network namespaces cannot be made here (%1); these tests run as root, as in CI")
        .arg(m_reason);
}

bool TestNetns::enter()
{
    if (m_inside) {
        return true;
    }
    if (!up()) {
        return false;
    }
    m_hostNamespace = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const QByteArray path = "/var/run/netns/" + value(QStringLiteral("NS_A")).toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    m_inside = m_hostNamespace >= 0 && fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    if (!m_inside) {
        m_reason = QStringLiteral("cannot enter the computer's namespace");
    }
    return m_inside;
}

bool TestNetns::up()
{
    QProcess process;
    process.start(script(), {QStringLiteral("up"), m_name});
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(5000);
        m_reason = QStringLiteral("the namespace helper did not finish");
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_reason = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        if (m_reason.isEmpty()) {
            m_reason = QStringLiteral("the namespace helper failed");
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
    // Back home first: the namespace this thread is in is about to go.
    if (m_hostNamespace >= 0) {
        ::setns(m_hostNamespace, CLONE_NEWNET);
        ::close(m_hostNamespace);
        m_hostNamespace = -1;
    }
    m_inside = false;
    if (m_up) {
        QProcess::execute(script(), {QStringLiteral("down"), m_name});
        m_up = false;
    }
}

QString TestNetns::target(const QString& key, int port) const
{
    return value(key) + QLatin1Char(':') + QString::number(port);
}

QByteArray TestNetns::arpMac(const QString& key) const
{
    return value(key).toLatin1().replace(':', '-').toLower();
}

QStringList TestNetns::inNamespace(const QString& key, const QString& program,
                                   const QStringList& arguments) const
{
    return QStringList{QStringLiteral("netns"), QStringLiteral("exec"), value(key), program} + arguments;
}

bool TestNetns::startInB(ChildProcess& child, const QString& program, const QStringList& arguments) const
{
    child.process.start(QStringLiteral("ip"), inNamespace(QStringLiteral("NS_B"), program, arguments));
    return child.process.waitForStarted(5000);
}

bool TestNetns::startSim(ChildProcess& child, const QStringList& arguments) const
{
    return startInB(child, m_simulator,
                    QStringList{QStringLiteral("--max-seconds"), QStringLiteral("60")} + arguments);
}

bool TestNetns::runInA(QProcess& process, const QString& program, const QStringList& arguments, int ms) const
{
    process.start(QStringLiteral("ip"), inNamespace(QStringLiteral("NS_A"), program, arguments));
    if (!process.waitForFinished(ms)) {
        process.kill();
        process.waitForFinished(5000);
        return false;
    }
    return true;
}
