#pragma once

#include <QHostAddress>
#include <QList>
#include <QNetworkInterface>

namespace SearchInterfaces {

// The interfaces a network search goes through: every interface of the computer, or only those
// named in MERVIK_SEARCH_INTERFACES (comma-separated), for users with VPN or virtual adapters they do
// not want searched, and for tests that search only their own namespace. The search itself skips
// loopback and interfaces that are down.
QList<QNetworkInterface> interfaces();

// Whether a search sends on this interface: up, running, not loopback.
bool isSearched(const QNetworkInterface& interface);

// The computer's address and netmask that reach peer, from the route to it. (The host name resolves
// to 127.0.1.1 on Debian and says nothing about the route.) False when no route leads there.
bool localAddressFor(const QHostAddress& peer, QHostAddress* address, QHostAddress* netmask);

} // namespace SearchInterfaces
