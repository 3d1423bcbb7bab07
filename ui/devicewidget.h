#pragma once

#include <QItemSelection>
#include <QList>
#include <QPointer>
#include <QWidget>

#include <memory>

class CDevice;
class DirectConnecter;
class PelmProgressDialog;
class QAbstractButton;
class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QTableWidget;
class RepairPrompt;
class SearchController;

// The Device page: finds instruments (through the search controller) or connects to a known serial
// port or network address (through the direct connecter), and connects the chosen one.
class DeviceWidget : public QWidget
{
    Q_OBJECT
public:
    enum View
    {
        FindView = 0,
        UsbView = 1,
        NetworkView = 2
    };
    enum Column
    {
        StatusColumn = 0,
        InterfaceColumn,
        ModelColumn,
        SerialNumberColumn,
        ProductionDateColumn,
        FirmwareColumn,
        ColumnCount
    };

    // The page makes its own search controller unless one is given (tests script one); it owns it.
    explicit DeviceWidget(QWidget* parent = nullptr, SearchController* search = nullptr);
    ~DeviceWidget() override;

    // Tries the stored automatic connection, if there is one.
    void start();

    SearchController* searchController() const { return m_search; }

signals:
    void autoOn();
    // Asks the direct connecter, in its own thread, to try the stored automatic connection.
    void checkAutoConnect();
    void setDataFeed(bool checked);
    void connectToCom(QString port, int baudrate);
    void connectToEth(QString ip, int port);
    void storeAutoConnect(QString place, int port);
    void disableAutoConnect();

public slots:
    void onNewLog(QString line);
    void onNewDevice(CDevice* dev);
    void searchClicked();
    void connectClicked();
    void onCommandFinished(int result, int command);
    void setDisconnected(int state);
    void updateButton(QItemSelection current = QItemSelection());
    void searchFinished();
    void autoState(bool state);
    // The last line of a search, shown below its progress.
    void onSearchSummary(QString text);

private slots:
    // Every row from its device's own state.
    void refreshRows();
    // Rows of devices that have been deleted go.
    void dropGoneRows();

private:
    void buildForm();
    QWidget* buildFindView();
    QWidget* buildUsbView();
    QWidget* buildNetworkView();
    QPushButton* advancedButton(const char* name);
    // A direct connection's page: its fields, the auto-connect box and the Advanced button in one group.
    QWidget* directView(const QString& title, QFormLayout* form, QCheckBox* autoBox, QPushButton* advanced);
    void connectDirectly(int view);
    void onDirectResult(CDevice* dev);
    // The current device gets a row of its own, however it was connected.
    void listCurrentDevice();
    // Connects or disconnects a listed device that the search does not hold.
    void toggleListedDevice(CDevice* dev);
    // Whether the current device is connected at the place that view names.
    bool placeConnected(int view) const;
    // why: said below the outcome when known.
    void showOutcome(bool connected, const QString& why);
    void refreshRow(CDevice* dev);
    void fillRow(int row);
    int selectedRow() const;
    void refreshPorts();
    void openInterfaceDialog();
    void setStyleFlag(QWidget* widget, const char* name, bool value);
    // Stores or clears the automatic connection to the place of a device found by the search.
    void storeFoundTarget(CDevice* dev);

    SearchController* m_search;
    DirectConnecter* m_direct;
    std::unique_ptr<RepairPrompt> m_prompt;
    QList<QPointer<CDevice>> m_devices;
    // A device the direct connecter handed over: the page owns it.
    QPointer<CDevice> m_directDevice;
    // The listed device whose connection the user asked for, until it connected or failed, and
    // whether its place is to become the automatic connection once it connected.
    QPointer<CDevice> m_pending;
    bool m_pendingStoresTarget = false;
    // A direct connection under way. The automatic connection changes only once it has succeeded,
    // and the instrument connected before stays connected unless it is replaced.
    struct DirectAttempt
    {
        bool active = false;
        QString place;
        int number = 0;
        bool storeTarget = false;
        QPointer<CDevice> previous;
    };
    DirectAttempt m_attempt;
    // Why the last direct connection failed.
    QString m_failure;
    bool m_autoConnecting = false;
    PelmProgressDialog* m_autoProgress = nullptr;

    QPushButton* m_findButton;
    QPushButton* m_usbButton;
    QPushButton* m_ethButton;
    QStackedWidget* m_stack;
    QPushButton* m_startButton;
    QProgressBar* m_progressBar;
    QLabel* m_searchState;
    QPlainTextEdit* m_log;
    QTableWidget* m_table;
    QCheckBox* m_autoOnFind;
    QComboBox* m_comPortBox;
    QComboBox* m_comBaudBox;
    QCheckBox* m_autoOnUsb;
    QPushButton* m_advancedOnUsb;
    QLineEdit* m_scaleIPBox;
    QSpinBox* m_scalePortBox;
    QCheckBox* m_autoOnEth;
    QPushButton* m_advancedOnEth;
    QPushButton* m_connectButton;
};
