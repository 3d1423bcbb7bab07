#pragma once

#include <QDialog>
#include <QPointer>

class CDevice;

namespace Ui {
class FirmwareDialog;
}

// Uploads a firmware file to the connected device through the balance controller. While the upload
// runs the dialog cannot be closed; when it ends the dialog says how (and why it failed) and closes.
class FirmwareDialog : public QDialog
{
    Q_OBJECT
public:
    explicit FirmwareDialog(QWidget* parent = nullptr);
    ~FirmwareDialog() override;

public slots:
    void pickFile();
    // The file to upload, as if chosen with pickFile.
    void setFile(const QString& path);
    void setFirmware();
    void sendingFirmwareFinished(int result);
    // Closing is asking to stop, which an upload cannot do halfway.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void fitHeight();
    void setUploading(bool uploading);
    void onProgress(int progress);
    // The controller forwards the device's end only while it follows a connected device.
    void watchDevice(CDevice* device);
    void onDeviceLost();
    // Why the controller did not hand the upload to a device.
    static QString refusalReason();

    Ui::FirmwareDialog* ui;
    QString m_path;
    // The device's account of a failure, shown under the failure notice.
    QString m_reason;
    bool m_uploading = false;
    QPointer<CDevice> m_device;
};
