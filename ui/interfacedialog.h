#pragma once

#include <QDialog>
#include <QPointer>
#include <QStringList>

class CDevice;
class PelmProgressDialog;

namespace Ui {
class InterfaceDialog;
}

// The network settings of the connected instrument's module ("Advanced" on the device page): filled
// from the module, judged for reachability before anything is sent, then written, the module
// restarted and the instrument connected again by a run that outlives the dialog.
class InterfaceDialog : public QDialog
{
    Q_OBJECT
public:
    explicit InterfaceDialog(QWidget* parent = nullptr);
    ~InterfaceDialog() override;

    // Opens the form only for a device connected through its module; otherwise says why not.
    int exec() override;
    void showProgress(bool show);

protected:
    // A style sheet border is not drawn around a dialog.
    void paintEvent(QPaintEvent* event) override;

public slots:
    void deviceStateChanged(int state);
    void clientServerModeChanged(int index);
    void ipModeChanged(int index);
    void changeParams();
    // The end of a run this dialog started: its progress goes, a failure is told, the form closes.
    void onInterfaceSettingFinished(int ret);

private:
    // The seven texts in the setter's order. A disabled line holding no address goes as 0.0.0.0:
    // the module takes it without using it, and the user cannot correct a line they cannot edit.
    QStringList formSettings() const;
    // Marks the lines a module cannot take; Set only for a form that can go as it stands.
    void validate();
    // Whether the device would still be reachable with the module holding these settings.
    bool plannedReachable(CDevice* device, const QStringList& settings) const;
    void warnNotLoaded();

    Ui::InterfaceDialog* ui;
    bool m_loaded = false;
    bool m_proceed = false;
    QPointer<PelmProgressDialog> m_progress;
};
