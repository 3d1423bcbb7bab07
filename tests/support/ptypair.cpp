#include "support/ptypair.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair(QObject* parent) : QObject(parent)
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0) {
        return;
    }
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        ::close(m_master);
        m_master = -1;
        return;
    }
    m_slavePath = QString::fromLocal8Bit(ptsname(m_master));
    m_slaveKeeper = ::open(ptsname(m_master), O_RDWR | O_NOCTTY);
    if (m_slaveKeeper >= 0) {
        termios tio;
        if (tcgetattr(m_slaveKeeper, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(m_slaveKeeper, TCSANOW, &tio);
        }
    }
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PtyPair::onReadable);
}

PtyPair::~PtyPair()
{
    closeMaster();
    if (m_slaveKeeper >= 0) {
        ::close(m_slaveKeeper);
    }
}

bool PtyPair::write(const QByteArray& bytes)
{
    if (m_master < 0) {
        return false;
    }
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{m_master, POLLOUT, 0};
            if (::poll(&p, 1, 2000) <= 0) {
                return false;
            }
        } else if (n < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

void PtyPair::closeMaster()
{
    if (m_master < 0) {
        return;
    }
    delete m_notifier;
    m_notifier = nullptr;
    ::close(m_master);
    m_master = -1;
    // Without the keeper the slave's reader sees the hang-up at once.
    if (m_slaveKeeper >= 0) {
        ::close(m_slaveKeeper);
        m_slaveKeeper = -1;
    }
}

void PtyPair::onReadable()
{
    char buffer[4096];
    bool any = false;
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        m_received.append(buffer, int(n));
        any = true;
    }
    if (any) {
        emit dataReceived();
    }
}
