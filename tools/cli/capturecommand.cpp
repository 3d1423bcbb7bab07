#include "capturecommand.h"

#include "clioutput.h"
#include "instrumentcapture.h"
#include "instrumentsession.h"

#include "controller/capturecore.h"
#include "device/cdevice.h"
#include "log/appdatabase.h"
#include "log/centralforwarder.h"
#include "log/centraluri.h"
#include "log/cpelmlog.h"
#include "log/walcheckpointer.h"
#include "platform/quitsignals.h"

#include <QCoreApplication>

#include <memory>
#include <vector>

namespace CaptureCommand {

namespace {

using CliOutput::fail;
using CliOutput::out;

// How long the end waits for the central database to take what is left; the rest goes at the next start.
constexpr int FinishForwardingMs = 5000;

} // namespace

int run(QCoreApplication& app, const Options& options)
{
    const bool stored = options.central.isEmpty();
    const QString uri = stored ? CentralForwarder::configuredUri() : options.central;
    const bool traffic = options.centralTraffic || (stored && CentralForwarder::configuredTraffic());
    if (options.centralTraffic && uri.isEmpty()) {
        return fail(
            InstrumentSession::ExitUsage,
            QStringLiteral("--central-traffic: no central database (--central URI or the program's)"));
    }
    if (!uri.isEmpty()) {
        const QString problem = CentralUri::problem(uri);
        if (!problem.isEmpty()) {
            return fail(InstrumentSession::ExitUsage, QStringLiteral("--central: %1").arg(problem));
        }
    }
    if (!AppDatabase::open(options.database)) {
        return fail(InstrumentSession::ExitFailure,
                    QStringLiteral("database not available: %1").arg(AppDatabase::failure()));
    }
    WalCheckpointer checkpointer;
    CPelmLog log;
    CaptureCore core;

    // Each instrument is reached as the program reaches it, one after the other, before any is captured.
    std::vector<std::unique_ptr<InstrumentCapture>> captures;
    for (const QString& place : options.places) {
        InstrumentSession session;
        if (options.threeLetter) {
            session.setThreeLetter(options.address);
        }
        QString error;
        const int opened = session.open(place, options.baudRates, true, error);
        if (opened != InstrumentSession::ExitOk) {
            return fail(opened, error);
        }
        captures.push_back(std::make_unique<InstrumentCapture>(session.takeDevice(), place, &core,
                                                               options.intervalMs, options.stable));
        QObject::connect(captures.back().get(), &InstrumentCapture::stateLine, &app, &CliOutput::out);
    }

    std::unique_ptr<CentralForwarder> central;
    int centralState = -1;
    if (!uri.isEmpty()) {
        central = std::make_unique<CentralForwarder>(uri, CentralForwarder::stationId());
        central->setTraffic(traffic);
        QObject::connect(&core, &CaptureCore::resultCaptured, central.get(), &CentralForwarder::nudge);
        // Said when the state changes, not at every result that waits.
        QObject::connect(central.get(), &CentralForwarder::statusChanged, &app,
                         [&centralState](int state, const QString& text) {
                             if (state != CentralForwarder::Behind && state != centralState) {
                                 centralState = state;
                                 out(text);
                             }
                         });
        central->start();
    }

    for (const auto& capture : captures) {
        capture->start();
    }
    QuitSignals::install(&app);
    app.exec();

    for (const auto& capture : captures) {
        capture->stop();
    }
    // The results the instruments' threads sent before they stopped.
    QCoreApplication::sendPostedEvents();
    core.flush();
    log.commitPending();
    if (!central) {
        return InstrumentSession::ExitOk;
    }
    central->finish(FinishForwardingMs);
    out(central->statusText());
    if (central->state() == CentralForwarder::Refused) {
        return fail(InstrumentSession::ExitFailure, central->statusText());
    }
    return InstrumentSession::ExitOk;
}

} // namespace CaptureCommand
