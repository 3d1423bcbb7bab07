#include "platform/quitsignals.h"

#include "platform/logcategories.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
int g_pipe[2] = {-1, -1};
bool g_received = false;

// Only async-signal-safe work here: the event loop reads the pipe.
void onSignal(int)
{
    const char byte = 1;
    const ssize_t written = ::write(g_pipe[1], &byte, 1);
    static_cast<void>(written);
}
} // namespace

namespace QuitSignals {

bool install(QCoreApplication* app)
{
    if (g_pipe[0] >= 0) {
        return true;
    }
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qCWarning(lcPlatform) << "no pipe for the quit signals";
        return false;
    }
    auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [] {
        char bytes[16];
        while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
        }
        g_received = true;
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(number, &action, nullptr);
    }
    return true;
}

bool received()
{
    return g_received;
}

} // namespace QuitSignals
