#pragma once

#include "controller/ccontrollerinterface.h"

// Chooses the current device for the whole program and follows its state; reads the identity
// of every instrument as soon as it connects.
class CDeviceController : public CControllerInterface
{
    Q_OBJECT
public:
    explicit CDeviceController(QObject* parent = nullptr);
    ~CDeviceController() override;

    // The process-wide instance, created on first use when start-up has not created it.
    static CDeviceController* instance();

    QList<int> supportedDeviceTypes() const override { return {0}; }

public slots:
    void onDeviceStateChanged(int state) override;

private:
    static CDeviceController* s_instance;
};
