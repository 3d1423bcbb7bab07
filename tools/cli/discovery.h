#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

class QCoreApplication;

// mervik-cli's search and connect: the program's discovery and direct connection, from a script.
namespace Discovery {

struct SearchRequest
{
    bool serial = true;
    bool network = true;
    // Empty: every port the program would search, every interface it would use.
    QStringList ports;
    QStringList interfaces;
    // Empty: the program's baud rates.
    QVector<int> baudRates;
    bool json = false;
    int networkWaitMs = 8000;
    // Instruments of the three-letter dialect on the serial ports: at one bus address, or (negative)
    // with the dialect's factory, which tries a plain device and then each address on every port.
    bool threeLetter = false;
    int address = -1;
};

// Prints each instrument as it is found, then a count (none with json); exit status 0 when one was
// found at least, 4 when none, 2 or 3 when an interface or a port named does not exist.
int search(QCoreApplication& app, const SearchRequest& request);

// Connects to a serial port path or HOST:PORT as the program's direct connection does, prints the
// instrument, and with save keeps the place as the program's automatic connection. baudRate 0 tries
// the program's baud rates in turn.
int connectTo(const QString& place, int baudRate, bool save);

} // namespace Discovery
