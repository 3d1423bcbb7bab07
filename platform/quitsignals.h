#pragma once

class QCoreApplication;

// SIGTERM, SIGINT and SIGHUP end the event loop instead of the process, so that a stop by a service
// manager, a terminal or `timeout` still closes the database and lets go of the instrument.
namespace QuitSignals {
bool install(QCoreApplication* app);
// Whether one of them came: a loop that runs outside the event loop ends on it too.
bool received();
} // namespace QuitSignals
