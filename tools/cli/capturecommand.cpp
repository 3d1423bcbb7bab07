#include "capturecommand.h"

#include "clioutput.h"
#include "instrumentcapture.h"
#include "instrumentsession.h"

#include "controller/capturecore.h"
#include "device/cdevice.h"
#include "log/appdatabase.h"
#include "log/cpelmlog.h"
#include "log/walcheckpointer.h"
#include "platform/quitsignals.h"

#include <QCoreApplication>

#include <memory>
#include <vector>

namespace CaptureCommand {

namespace {

using CliOutput::fail;

} // namespace

int run(QCoreApplication& app, const Options& options)
{
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
    return InstrumentSession::ExitOk;
}

} // namespace CaptureCommand
