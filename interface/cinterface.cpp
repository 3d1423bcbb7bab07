#include "interface/cinterface.h"

#include <QByteArray>

CInterface::CInterface(QObject* parent) : QObject(parent) {}

QString CInterface::stateName(int state)
{
    switch (state) {
    case StateConnected:
        return QStringLiteral("Connected");
    case StateDisconnected:
        return QStringLiteral("Disconnected");
    case StateListening:
        return QStringLiteral("Listenning");
    default:
        return QStringLiteral("Unknown");
    }
}

QString CInterface::textFromBytes(QByteArray bytes)
{
    // Searched first: replace() copies the bytes even when there is nothing to remove.
    if (bytes.contains('\0')) {
        bytes.replace('\0', QByteArray());
    }
    return QString::fromUtf8(bytes.constData(), bytes.size());
}
