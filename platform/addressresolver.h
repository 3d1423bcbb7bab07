#pragma once

#include <QByteArray>
#include <QString>

// Learns the hardware address of a neighbour from its IPv4 address. The result has the form the
// servers pool compares with a module's MAC: six two-digit lower-case hexadecimal groups joined by
// "-" (00-1a-2b-3c-4d-5e); empty when the address is not known.
class AddressResolver
{
public:
    virtual ~AddressResolver();

    virtual QByteArray macForIp(const QString& ip) = 0;

    // The resolver of this platform, unless a test has put another one in place.
    static AddressResolver* instance();
    // Not owned; null restores the platform's own.
    static void setInstance(AddressResolver* resolver);

    // "00:1A:2b:3c:4d:5e" -> "00-1a-2b-3c-4d-5e"; empty unless six groups of two hexadecimal digits.
    static QByteArray normalizedMac(const QByteArray& colonMac);
};
