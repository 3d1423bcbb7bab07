#include "platform/keystrokeservice.h"

#include "platform/x11keystrokeservice.h"

#include <QCoreApplication>

namespace {
KeystrokeService* s_instance = nullptr;

// Runs while the application object still exists, so the service can restore the keymap and
// stop its timer in a living Qt.
void destroyInstance()
{
    delete s_instance;
    s_instance = nullptr;
}
} // namespace

KeystrokeService::~KeystrokeService() = default;

KeystrokeService* KeystrokeService::instance()
{
    if (!s_instance) {
        s_instance = new X11KeystrokeService();
        if (QCoreApplication::instance()) {
            qAddPostRoutine(destroyInstance);
        }
    }
    return s_instance;
}
