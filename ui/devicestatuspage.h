#pragma once

#include <QWidget>

class QLabel;

// The Device page while instruments are connected from the command line: the current instrument's
// state and identity as the device controller knows them, nothing more.
class DeviceStatusPage : public QWidget
{
    Q_OBJECT
public:
    explicit DeviceStatusPage(QWidget* parent = nullptr);

public slots:
    void refresh();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void onCommandFinished(int result, int command);

    QLabel* m_summary;
    QLabel* m_state;
    QLabel* m_model;
    QLabel* m_serialNumber;
    QLabel* m_productionDate;
    QLabel* m_firmware;
    QLabel* m_interface;
};
