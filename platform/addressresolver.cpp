#include "platform/addressresolver.h"

#include "platform/procarpresolver.h"

#include <QList>

#include <atomic>

namespace {
std::atomic<AddressResolver*> replacement{nullptr};
} // namespace

AddressResolver::~AddressResolver() = default;

AddressResolver* AddressResolver::instance()
{
    if (AddressResolver* resolver = replacement.load()) {
        return resolver;
    }
    static ProcArpResolver platformResolver;
    return &platformResolver;
}

void AddressResolver::setInstance(AddressResolver* resolver)
{
    replacement = resolver;
}

QByteArray AddressResolver::normalizedMac(const QByteArray& colonMac)
{
    const QList<QByteArray> groups = colonMac.trimmed().split(':');
    if (groups.size() != 6) {
        return QByteArray();
    }
    QByteArray result;
    for (const QByteArray& group : groups) {
        bool ok = false;
        group.toInt(&ok, 16);
        if (group.size() != 2 || !ok) {
            return QByteArray();
        }
        if (!result.isEmpty()) {
            result += '-';
        }
        result += group.toLower();
    }
    return result;
}
