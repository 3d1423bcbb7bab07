#pragma once

#include "controller/ccontrollerinterface.h"
#include "device/devicetypes.h"

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

    QList<int> supportedDeviceTypes() const override { return {1, 5}; }

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
    // Alibi memory and firmware; the outcomes arrive through the signals of the same names.
    bool readAlibiMemory();
    // Needs only a current device: the reading it stops keeps the device busy.
    bool stopReadingAlibi();
    bool sendNewFirmware(QString path);

signals:
    void readingAlibiFinished(int result);
    void readingAlibiProgress(int count, int progress, AlibiRecord record);
    void sendingFirmwareFinished(int result);
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

    static CBalanceController* s_instance;
};
