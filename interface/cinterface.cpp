#include "interface/cinterface.h"

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
