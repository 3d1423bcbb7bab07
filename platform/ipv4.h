#pragma once

#include <QHostAddress>

// An address as a host-order IPv4 number for netmask arithmetic; 0 for anything that is not IPv4,
// so that a missing or IPv6 address matches no subnet but the empty one.
inline quint32 ipv4(const QHostAddress& address)
{
    bool ok = false;
    const quint32 value = address.toIPv4Address(&ok);
    return ok ? value : 0;
}

// A netmask is ones followed by zeros: the inverted mask plus one is a power of two.
inline bool isContiguousMask(quint32 mask)
{
    return (~mask & (~mask + 1)) == 0;
}
