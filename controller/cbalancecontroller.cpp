#include "controller/cbalancecontroller.h"

#include "controller/cdevicecontroller.h"
#include "device/cdevice.h"
#include "interface/cinterfacemodule.h"
#include "platform/queuedcall.h"

#include <QCoreApplication>

CBalanceController* CBalanceController::s_instance = nullptr;

CBalanceController::CBalanceController(QObject* parent) : CControllerInterface(parent)
{
    if (!s_instance) {
        s_instance = this;
    }
    // Choosing a device through the device controller makes this controller follow it.
    connect(CDeviceController::instance(), &CControllerInterface::controllerSet, this,
            [this] { setCurrentDevice(currentDevice()); });
}

CBalanceController::~CBalanceController()
{
    if (s_instance == this) {
        s_instance = nullptr;
    }
}

CBalanceController* CBalanceController::instance()
{
    if (!s_instance) {
        new CBalanceController(QCoreApplication::instance());
    }
    return s_instance;
}

template <typename Request> bool CBalanceController::forward(Request request, bool silent)
{
    if (checkDevice(false, silent)) {
        return false;
    }
    request(currentDevice());
    return true;
}

void CBalanceController::onDeviceStateChanged(int state)
{
    CDevice* device = currentDevice();
    if (device && state == STATE_DISCONNECTED) {
        disconnect(device, &CDevice::readingAlibiFinished, this, &CBalanceController::readingAlibiFinished);
        disconnect(device, &CDevice::readingAlibiProgress, this, &CBalanceController::readingAlibiProgress);
        disconnect(device, &CDevice::readingAlibiWarning, this, &CBalanceController::readingAlibiWarning);
        disconnect(device, &CDevice::sendingFirmwareFinished, this,
                   &CBalanceController::sendingFirmwareFinished);
        disconnect(device, &CDevice::sendingFirmwareProgress, this,
                   &CBalanceController::sendingFirmwareProgress);
        disconnect(device, &CDevice::sendingFirmwareFailed, this, &CBalanceController::sendingFirmwareFailed);
        disconnect(device, &CDevice::eepromReceived, this, &CBalanceController::eepromReceived);
        disconnect(device, &CDevice::readingEEPROMFinished, this, &CBalanceController::readingEEPROMFinished);
        disconnect(device, &CDevice::resultReceived, this, &CBalanceController::onResultReceived);
    } else if (device && state == STATE_CONNECTED) {
        connect(device, &CDevice::readingAlibiFinished, this, &CBalanceController::readingAlibiFinished,
                Qt::UniqueConnection);
        connect(device, &CDevice::readingAlibiProgress, this, &CBalanceController::readingAlibiProgress,
                Qt::UniqueConnection);
        connect(device, &CDevice::readingAlibiWarning, this, &CBalanceController::readingAlibiWarning,
                Qt::UniqueConnection);
        connect(device, &CDevice::sendingFirmwareFinished, this, &CBalanceController::sendingFirmwareFinished,
                Qt::UniqueConnection);
        connect(device, &CDevice::sendingFirmwareProgress, this, &CBalanceController::sendingFirmwareProgress,
                Qt::UniqueConnection);
        connect(device, &CDevice::sendingFirmwareFailed, this, &CBalanceController::sendingFirmwareFailed,
                Qt::UniqueConnection);
        connect(device, &CDevice::eepromReceived, this, &CBalanceController::eepromReceived,
                Qt::UniqueConnection);
        connect(device, &CDevice::readingEEPROMFinished, this, &CBalanceController::readingEEPROMFinished,
                Qt::UniqueConnection);
        connect(device, &CDevice::resultReceived, this, &CBalanceController::onResultReceived,
                Qt::UniqueConnection);
    }
    CControllerInterface::onDeviceStateChanged(state);
}

bool CBalanceController::sendSI()
{
    return forward([](CDevice* d) { d->sendSI(); });
}

bool CBalanceController::sendSJ()
{
    return forward([](CDevice* d) { d->sendSJ(); });
}

bool CBalanceController::sendST()
{
    return forward([](CDevice* d) { d->tare(); });
}

bool CBalanceController::sendSW9()
{
    return forward([](CDevice* d) { d->sendSW9(); });
}

bool CBalanceController::sendSZ()
{
    return forward([](CDevice* d) { d->zero(); });
}

bool CBalanceController::sendSS()
{
    return forward([](CDevice* d) { d->sendSS(); });
}

bool CBalanceController::result()
{
    return forward([](CDevice* d) { d->result(); });
}

bool CBalanceController::stableResult()
{
    return forward([](CDevice* d) { d->stableResult(); });
}

bool CBalanceController::resultWithStb()
{
    return forward([](CDevice* d) { d->resultWithStb(); });
}

bool CBalanceController::zeroTHR(float val)
{
    return forward([val](CDevice* d) { d->zeroTHR(val); });
}

bool CBalanceController::minTHR(float val)
{
    return forward([val](CDevice* d) { d->minTHR(val); });
}

bool CBalanceController::maxTHR(float val)
{
    return forward([val](CDevice* d) { d->maxTHR(val); });
}

bool CBalanceController::sendSilentSx1()
{
    return forward([](CDevice* d) { d->result(); }, true);
}

bool CBalanceController::readAlibiMemory()
{
    return forward([](CDevice* d) { d->readAlibiMemory(); });
}

bool CBalanceController::stopReadingAlibi()
{
    CDevice* device = currentDevice();
    if (!device) {
        emit raiseError(ErrorNoDevice);
        return false;
    }
    device->stopReadingAlibiMemory();
    return true;
}

bool CBalanceController::sendNewFirmware(QString path)
{
    return forward([path](CDevice* d) { d->sendNewFirmware(path); });
}

void CBalanceController::onCommandFinished(int result, int command, QVariant response, QVariant arg1,
                                           QVariant arg2, QVariant arg3, QVariant arg4)
{
    if (result != COMMAND_OK) {
        emit raiseError(result, command);
    } else if (command == COMMAND_STABLE_RESULT || command == COMMAND_RESULT) {
        const Measurement m = response.value<Measurement>();
        emit anyResultReceived(m);
        emit significantResultReceived(m);
    } else if (command == COMMAND_RESULT_WITH_STB) {
        emit anyResultReceived(response.value<Measurement>());
    }
    emit commandFinished(result, command, response, arg1, arg2, arg3, arg4);
}

void CBalanceController::onResultReceived(Measurement m)
{
    emit significantResultReceived(m);
    emit anyResultReceived(m);
}

// ---------------------------------------------------------------------------------------------
// Data exchange and the network module's settings

bool CBalanceController::setUsers(QVector<UserRecord> users)
{
    return forward([&users](CDevice* d) { d->setUsers(users); });
}

bool CBalanceController::setProducts(QVector<ProductRecord> products)
{
    return forward([&products](CDevice* d) { d->setProducts(products); });
}

bool CBalanceController::forwardToModule(const std::function<void(CInterfaceModule*)>& setter)
{
    if (checkDevice(true, false)) {
        return false;
    }
    // The module lives in the device's thread; its setters read its own fields, so they run there.
    CInterfaceModule* module = currentDevice()->module();
    callInThreadOf(module, [module, setter] { setter(module); });
    return true;
}

bool CBalanceController::setRoutingMode(int mode)
{
    return forwardToModule([mode](CInterfaceModule* m) { m->setRoutingMode(mode); });
}

bool CBalanceController::setRemoteIp(QHostAddress ip)
{
    return forwardToModule([ip](CInterfaceModule* m) { m->setRemoteIP(ip); });
}

bool CBalanceController::setPort(int port)
{
    return forwardToModule([port](CInterfaceModule* m) { m->setPort(port); });
}

bool CBalanceController::setRemotePort(int port)
{
    return forwardToModule([port](CInterfaceModule* m) { m->setRemotePort(port); });
}

bool CBalanceController::setIpLayer(bool dhcp, QHostAddress ip, QHostAddress gateway, QHostAddress netmask)
{
    return forwardToModule(
        [dhcp, ip, gateway, netmask](CInterfaceModule* m) { m->setIPLayer(dhcp, ip, gateway, netmask); });
}

bool CBalanceController::setEEPROM(QString file)
{
    return forward([&file](CDevice* d) { d->setEEPROM(file); });
}

bool CBalanceController::getEEPROM()
{
    return forward([](CDevice* d) { d->getEEPROM(); });
}

bool CBalanceController::setCompensation(QVariantList list)
{
    return forward([&list](CDevice* d) { d->setCompensation(list); });
}

bool CBalanceController::getCompensation()
{
    return forward([](CDevice* d) { d->getCompensation(); });
}

bool CBalanceController::message(QString text, int seconds)
{
    return forward([&text, seconds](CDevice* d) { d->message(text, seconds); });
}

bool CBalanceController::setDateTime(QDateTime dt)
{
    return forward([&dt](CDevice* d) { d->setDateTime(dt); });
}

bool CBalanceController::getDateTime()
{
    return forward([](CDevice* d) { d->getDateTime(); });
}
