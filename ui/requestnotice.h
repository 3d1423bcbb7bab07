#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

// Runs the requests a user gives by hand (the TARE, ZERO, SEND and ON/OFF buttons and hotkeys, a line
// typed into the terminal) and says in one short line what became of one that did not go through:
// not sent (no instrument, reconnecting, busy) or not done (refused, no answer). Automatic requests
// (auto send, the live display) never speak here: they repeat, and nobody has just pressed anything.
class RequestNotice : public QObject
{
    Q_OBJECT
public:
    // How long a notice stays before it is taken back.
    static constexpr int ShownMs = 8000;

    // The process-wide instance, created on first use.
    static RequestNotice* instance();
    explicit RequestNotice(QObject* parent = nullptr);
    ~RequestNotice() override;

    QString text() const { return m_text; }

public slots:
    void tare();
    void zero();
    void onOff();
    void send();
    // A line typed into the terminal, sent followed by CR LF.
    void sendCommand(const QString& command);

    // Also says what became of other things the user did, such as an export written.
    void say(const QString& text);

signals:
    // What to tell the user now; empty when there is nothing (any longer) to say.
    void notice(const QString& text);

private:
    // Asks the controllers through request; awaited is the command whose end tells how it went (0: none).
    void run(const QString& name, int awaited, const std::function<bool()>& request);
    void onRaiseError(int errorType, int command);
    void onCommandFinished(int result, int command);
    static QString notSent(int errorType, const QString& name);

    QString m_text;
    QTimer m_expiry;
    // Commands the user asked for that have not ended yet, with the names they are told by.
    QHash<int, QString> m_awaited;
    // The controllers' refusal of the request being handed over, if any; the hand-over may re-enter
    // (a device in this thread waits in an event loop), so each level keeps its own.
    int* m_refusal = nullptr;

    static RequestNotice* s_instance;
};
