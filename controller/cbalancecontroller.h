#pragma once

#include "controller/ccontrollerinterface.h"
#include "device/devicetypes.h"
#include "platform/hostaddressmetatype.h"

#include <QDateTime>
#include <QHostAddress>

#include <functional>

class CInterfaceModule;

// Weighing requests and results for the capture and terminal pages. It follows the device chosen
// through the device controller and tells significant results from the others.
class CBalanceController : public CControllerInterface
{
    Q_OBJECT
public:
    explicit CBalanceController(QObject* parent = nullptr);
    ~CBalanceController() override;

    // The process-wide instance, created on first use when start-up has not created it.
    static CBalanceController* instance();

    QList<int> supportedDeviceTypes() const override
    {
        // One list for every request: a new one each time cost an allocation per result.
        static const QList<int> types{1, 5};
        return types;
    }

public slots:
    void onDeviceStateChanged(int state) override;
    bool sendSI();
    bool sendSJ();
    bool sendST();
    bool sendSW9();
    bool sendSZ();
    bool sendSS();
    bool result();
    bool stableResult();
    bool resultWithStb();
    bool zeroTHR(float val);
    bool minTHR(float val);
    bool maxTHR(float val);
    // A result request that raises no refusal, for automatic requests.
    bool sendSilentSx1();
    void onCommandFinished(int result, int command, QVariant response, QVariant arg1, QVariant arg2,
                           QVariant arg3, QVariant arg4) override;
    // Data exchange with the instrument and the settings of its network module.
    bool setUsers(QVector<UserRecord> users);
    bool setProducts(QVector<ProductRecord> products);
    bool setRoutingMode(int mode);
    bool setRemoteIp(QHostAddress ip);
    bool setPort(int port);
    bool setRemotePort(int port);
    bool setIpLayer(bool dhcp, QHostAddress ip, QHostAddress gateway, QHostAddress netmask);
    bool setEEPROM(QString file);
    bool getEEPROM();
    bool setCompensation(QVariantList list);
    bool getCompensation();
    bool message(QString text, int seconds);
    bool setDateTime(QDateTime dt);
    bool getDateTime();
    // Alibi memory and firmware; the outcomes arrive through the signals of the same names.
    bool readAlibiMemory();
    // Needs only a current device: the reading it stops keeps the device busy.
    bool stopReadingAlibi();
    bool sendNewFirmware(QString path);

signals:
    void readingAlibiFinished(int result);
    void readingAlibiProgress(int count, int progress, AlibiRecord record);
    void readingAlibiWarning(QString warning);
    void sendingFirmwareFinished(int result);
    void sendingFirmwareFailed(QString reason);
    void sendingFirmwareProgress(int progress);
    void significantResultReceived(Measurement m);
    void anyResultReceived(Measurement m);
    void eepromReceived(QString line);
    void readingEEPROMFinished(int result);

private slots:
    void onResultReceived(Measurement m);

private:
    // Runs request on the current device unless the checks refuse it.
    template <typename Request> bool forward(Request request, bool silent = false);
    // Calls the module's setter in the module's own thread, with the device and module checks.
    bool forwardToModule(const std::function<void(CInterfaceModule*)>& setter);

    static CBalanceController* s_instance;
};
