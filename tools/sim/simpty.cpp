#include "simpty.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

void setError(QString* error, const QString& what)
{
    if (error) {
        *error = what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
    }
}

} // namespace

SimPty::SimPty(QObject* parent) : QObject(parent) {}

SimPty::~SimPty()
{
    close();
}

bool SimPty::open(QString* error)
{
    if (isOpen()) {
        return true;
    }
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        setError(error, QStringLiteral("posix_openpt"));
        return false;
    }
    char name[128] = {};
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        setError(error, QStringLiteral("pseudo-terminal setup"));
        ::close(master);
        return false;
    }
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    // Holding the slave open ourselves keeps the master from seeing a hang-up (EIO on every read) whenever
    // the client closes the port, so a client can close and reopen as often as it likes.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        setError(error, QStringLiteral("open %1").arg(QString::fromLocal8Bit(name)));
        ::close(master);
        return false;
    }
    // Raw from the start: no echo and no line editing before the client sets its own mode.
    termios mode{};
    if (tcgetattr(slave, &mode) == 0) {
        cfmakeraw(&mode);
        tcsetattr(slave, TCSANOW, &mode);
    }

    m_master = master;
    m_slave = slave;
    m_slavePath = QString::fromLocal8Bit(name);
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SimPty::readMaster);
    return true;
}

bool SimPty::createLink(const QString& path, QString* error)
{
    if (!isOpen()) {
        if (error) {
            *error = QStringLiteral("pseudo-terminal not open");
        }
        return false;
    }
    const QFileInfo existing(path);
    if (existing.isSymLink()) {
        QFile::remove(path);
    } else if (existing.exists()) {
        if (error) {
            *error = QStringLiteral("%1 exists and is not a symlink").arg(path);
        }
        return false;
    }
    if (::symlink(QFile::encodeName(m_slavePath).constData(), QFile::encodeName(path).constData()) != 0) {
        setError(error, QStringLiteral("symlink %1").arg(path));
        return false;
    }
    m_linkPath = path;
    return true;
}

int SimPty::lineSpeed() const
{
    termios mode{};
    if (m_slave < 0 || tcgetattr(m_slave, &mode) != 0) {
        return 0;
    }
    static const struct
    {
        speed_t code;
        int baud;
    } speeds[] = {{B1200, 1200},   {B2400, 2400},   {B4800, 4800},     {B9600, 9600},    {B19200, 19200},
                  {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
    const speed_t code = cfgetospeed(&mode);
    for (const auto& speed : speeds) {
        if (speed.code == code) {
            return speed.baud;
        }
    }
    return 0;
}

void SimPty::write(const QByteArray& bytes)
{
    if (!isOpen() || bytes.isEmpty()) {
        return;
    }
    const char* data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(m_master, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            // A serial line does not wait for a reader either: what does not fit is lost, and said, so
            // that a reader's test can tell the line's loss from its own.
            m_droppedBytes += left;
            std::fprintf(stderr, "sim: %lld bytes lost, the reader is behind\n",
                         static_cast<long long>(left));
            return;
        }
        data += written;
        left -= written;
    }
}

void SimPty::close()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
    if (m_slave >= 0) {
        ::close(m_slave);
        m_slave = -1;
    }
    if (!m_linkPath.isEmpty()) {
        QFile::remove(m_linkPath);
        m_linkPath.clear();
    }
}

void SimPty::readMaster()
{
    char buffer[4096];
    QByteArray bytes;
    // Bounded, so that a client writing without pause cannot starve the event loop; the notifier fires again.
    for (int i = 0; i < 16; ++i) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            break;
        }
        // End of file or EIO should not happen while we hold the slave; stop watching rather than spin.
        std::fprintf(stderr, "sim: pseudo-terminal read failed: %s\n",
                     n == 0 ? "end of file" : std::strerror(errno));
        m_notifier->setEnabled(false);
        break;
    }
    if (!bytes.isEmpty()) {
        emit received(bytes);
    }
}
