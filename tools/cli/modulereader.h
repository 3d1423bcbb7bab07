#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>

class CInterfaceModule;

// Reads a network module's settings the way the program does: its status, then its information
// (the dialect selects the module first when it is outside the local subnet).
class ModuleReader
{
public:
    enum Dialect
    {
        Wifi,
        Tibbo,
    };

    // Status attempts when another module answers a broadcast first.
    static constexpr int StatusAttempts = 3;

    // The local address and netmask from which address is reached: the interface address given, or
    // the one whose subnet holds address. False (with the reason) when there is none.
    static bool localEndpoint(const QHostAddress& address, const QString& given, QHostAddress* local,
                              quint32* netmask, QString* error);

    // Runs the exchanges; returns an exit code of mervik-cli, with error set on failure.
    int read(Dialect dialect, const QHostAddress& address, const QHostAddress& local, quint32 netmask,
             QString* error);

    // "name: value" per setting, in the documented order.
    QStringList lines() const { return m_lines; }

private:
    // The outcome of one command: 1 ok or information, 2 refused, 3 no answer.
    static int await(CInterfaceModule* module);

    QStringList m_lines;
};
