#include "ui/requestnotice.h"

#include "controller/cbalancecontroller.h"
#include "controller/reconnector.h"
#include "device/cdevice.h"
#include "platform/logcategories.h"
#include "ui/capture/applicationcontroller.h"
#include "ui/settings/settingscontroller.h"

#include <QCoreApplication>

#include <utility>

namespace {
// A typed command is named as typed, cut short so that the status line keeps it to one glance.
constexpr int LongestCommandName = 24;

QString commandName(const QString& command)
{
    const QString shown = command.simplified();
    if (shown.isEmpty()) {
        return QStringLiteral("the command");
    }
    if (shown.size() > LongestCommandName) {
        return QLatin1Char('"') + shown.left(LongestCommandName - 1) + QChar(0x2026) + QLatin1Char('"');
    }
    return QLatin1Char('"') + shown + QLatin1Char('"');
}
} // namespace

RequestNotice* RequestNotice::s_instance = nullptr;

RequestNotice* RequestNotice::instance()
{
    if (!s_instance) {
        new RequestNotice(QCoreApplication::instance());
    }
    return s_instance;
}

RequestNotice::RequestNotice(QObject* parent) : QObject(parent)
{
    if (!s_instance) {
        s_instance = this;
    }
    m_expiry.setSingleShot(true);
    m_expiry.setInterval(ShownMs);
    connect(&m_expiry, &QTimer::timeout, this, [this] { say(QString()); });
    CBalanceController* balance = CBalanceController::instance();
    connect(balance, &CControllerInterface::raiseError, this, &RequestNotice::onRaiseError);
    connect(balance, &CControllerInterface::commandFinished, this,
            [this](int result, int command) { onCommandFinished(result, command); });
    // A command cut off by a disconnection never ends: nothing is awaited from a new connection.
    connect(balance, &CControllerInterface::deviceStateChanged, this, [this](int state) {
        if (state == STATE_DISCONNECTED) {
            m_awaited.clear();
        }
    });
}

RequestNotice::~RequestNotice()
{
    if (s_instance == this) {
        s_instance = nullptr;
    }
}

void RequestNotice::tare()
{
    run(QStringLiteral("TARE"), COMMAND_TARE, [] { return CBalanceController::instance()->sendST(); });
}

void RequestNotice::zero()
{
    run(QStringLiteral("ZERO"), COMMAND_ZERO, [] { return CBalanceController::instance()->sendSZ(); });
}

void RequestNotice::onOff()
{
    run(QStringLiteral("ON/OFF"), COMMAND_SEND_SS, [] { return CBalanceController::instance()->sendSS(); });
}

void RequestNotice::send()
{
    // The capture export asks for a stable result or a plain one, as the option says.
    const int command =
        SettingsController::instance()->stableOnly.value() ? COMMAND_STABLE_RESULT : COMMAND_RESULT;
    run(QStringLiteral("SEND"), command, [] { return ApplicationController::instance()->send(); });
}

void RequestNotice::sendCommand(const QString& command)
{
    run(commandName(command), COMMAND_SEND_STRING,
        [command] { return CBalanceController::instance()->sendString(command + QStringLiteral("\r\n")); });
}

void RequestNotice::run(const QString& name, int awaited, const std::function<bool()>& request)
{
    // A new request replaces whatever was said about the last one.
    say(QString());
    // The instrument is being tried again: anything sent now would land in the trial's own exchanges.
    if (Reconnector::anyReconnecting()) {
        say(QStringLiteral("Reconnecting \u2014 %1 not sent").arg(name));
        return;
    }
    const bool alreadyAwaited = m_awaited.contains(awaited);
    // Awaited before it is asked: a device in this thread may end the command before the call returns.
    m_awaited.insert(awaited, name);
    int refusal = 0;
    int* outer = std::exchange(m_refusal, &refusal);
    const bool handed = request();
    m_refusal = outer;
    if (handed) {
        return;
    }
    // Refused by the checks before anything ran, so the only refusal raised meanwhile is this one.
    if (!alreadyAwaited) {
        m_awaited.remove(awaited);
    }
    say(notSent(refusal, name));
}

void RequestNotice::onRaiseError(int errorType, int command)
{
    // The controllers' own refusals carry no command.
    if (command == -1 && m_refusal) {
        *m_refusal = errorType;
    }
}

void RequestNotice::onCommandFinished(int result, int command)
{
    if (!m_awaited.contains(command)) {
        return;
    }
    const QString name = m_awaited.take(command);
    if (result == COMMAND_OK) {
        return;
    }
    if (command == COMMAND_SEND_SS || command == COMMAND_SEND_STRING) {
        // These wait for no answer: they fail only when the device is inside another exchange.
        say(notSent(CControllerInterface::ErrorBusy, name));
    } else if (result == COMMAND_TIMEOUT) {
        say(QStringLiteral("The instrument did not answer %1").arg(name));
    } else {
        say(QStringLiteral("The instrument refused %1").arg(name));
    }
}

QString RequestNotice::notSent(int errorType, const QString& name)
{
    switch (errorType) {
    case CControllerInterface::ErrorNoDevice:
        return QStringLiteral("No instrument connected \u2014 %1 not sent").arg(name);
    case CControllerInterface::ErrorNotConnected: {
        const CDevice* device = CControllerInterface::currentDevice();
        if (device && device->state() == STATE_CONNECTING) {
            return QStringLiteral("Still connecting \u2014 %1 not sent").arg(name);
        }
        return QStringLiteral("No instrument connected \u2014 %1 not sent").arg(name);
    }
    case CControllerInterface::ErrorBusy:
        return QStringLiteral("The instrument is busy \u2014 %1 not sent").arg(name);
    case CControllerInterface::ErrorTypeNotSupported:
        return QStringLiteral("The connected instrument does not take %1").arg(name);
    default:
        return QStringLiteral("%1 not sent").arg(name);
    }
}

void RequestNotice::say(const QString& text)
{
    if (!text.isEmpty()) {
        qCInfo(lcUi) << text;
        m_expiry.start();
    } else {
        m_expiry.stop();
    }
    if (text == m_text) {
        return;
    }
    m_text = text;
    emit notice(text);
}
