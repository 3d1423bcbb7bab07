// The module settings dialog: what the form lets go to a module, when it opens at all, and changes
// carried out against mervik-sim's modules inside the test namespaces (the computer in "a", the
// instrument behind its module in "b").
#include "controller/cdevicecontroller.h"
#include "device/cdevice.h"
#include "interface/cesp.h"
#include "interface/cserverspool.h"
#include "interface/ctibbo.h"
#include "support/testnetns.h"
#include "support/widgetuser.h"
#include "ui/interfacedialog.h"
#include "ui/pelmprogressdialog.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QtTest>

#include <memory>

namespace {

// Changes the form as a user does: "name=value" picks a choice, sets the spin box or types the line.
void edit(QWidget* form, const QStringList& edits)
{
    for (const QString& change : edits) {
        QWidget* widget = form->findChild<QWidget*>(change.section(QLatin1Char('='), 0, 0));
        const QString value = change.section(QLatin1Char('='), 1);
        if (auto* box = qobject_cast<QComboBox*>(widget)) {
            box->setCurrentText(value);
        } else if (auto* spin = qobject_cast<QSpinBox*>(widget)) {
            spin->setValue(value.toInt());
        } else if (auto* line = qobject_cast<QLineEdit*>(widget)) {
            line->clear();
            QTest::keyClicks(line, value);
        } else {
            QFAIL(qPrintable(change));
        }
    }
}

} // namespace

class TstInterfaceDialog : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { m_netns.enter(); }
    void cleanup();
    void setOnlyForWhatAModuleTakes_data();
    void setOnlyForWhatAModuleTakes();
    void changesTheModule_data();
    void changesTheModule();

private:
    TestNetns m_netns{QStringLiteral(MERVIK_SIM_PATH)};
};

void TstInterfaceDialog::cleanup()
{
    CDeviceController::instance()->setCurrentDevice(nullptr);
    CDeviceController::instance()->setQuiet(false);
    delete CServersPool::instance();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TstInterfaceDialog::setOnlyForWhatAModuleTakes_data()
{
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<QStringList>("marked"); // the lines shown as wrong; Set only without one

    const auto row = [](const char* name, const QStringList& edits, const QStringList& marked) {
        QTest::newRow(name) << edits << marked;
    };
    row("the form as it opens", {}, {});
    row("a number past 255", {"ipAddressLine=192.168.1.256"}, {"ipAddressLine"});
    row("three numbers", {"ipAddressLine=192.168.1"}, {"ipAddressLine"});
    row("a netmask with a gap", {"netmaskLine=255.0.255.0"}, {"netmaskLine"});
    row("no gateway", {"gatewayLine="}, {});
    row("a gateway by name", {"gatewayLine=router"}, {"gatewayLine"});
    row("a client without the computer's address", {"clientServerModeBox=Client", "serverIPLine=10.0.0"},
        {"serverIPLine"});
    row("a server does not need it",
        {"clientServerModeBox=Client", "serverIPLine=", "clientServerModeBox=Server"}, {});
    row("a dynamic address does not need the lines",
        {"ipAddressLine=x", "netmaskLine=255.0.255.0", "ipModeBox=Dynamic"}, {});
    row("corrected as typed", {"netmaskLine=255.255.0.255", "netmaskLine=255.255.0.0"}, {});
}

void TstInterfaceDialog::setOnlyForWhatAModuleTakes()
{
    QFETCH(QStringList, edits);
    QFETCH(QStringList, marked);

    InterfaceDialog dialog;
    dialog.show();
    edit(&dialog, edits);
    QStringList shown;
    const QList<QLineEdit*> lines = dialog.findChildren<QLineEdit*>();
    for (const QLineEdit* line : lines) {
        if (line->property("invalid").toBool()) {
            shown << line->objectName();
        }
    }
    QCOMPARE(shown, marked);
    QCOMPARE(dialog.findChild<QPushButton*>(QStringLiteral("saveButton"))->isEnabled(), marked.isEmpty());
}

void TstInterfaceDialog::changesTheModule_data()
{
    QTest::addColumn<QString>("dialect");
    QTest::addColumn<QStringList>("options"); // mervik-sim's module options, its port among them
    QTest::addColumn<QStringList>("edits");   // {A}, {B}: the computer's and the instrument's address
    QTest::addColumn<QString>("answer");      // to the question; "": the change starts at once
    QTest::addColumn<QStringList>("seen");
    QTest::addColumn<QString>("transport"); // the device's connection at the end
    QTest::addColumn<QList<int>>("heard");  // states the rest of the program was told meanwhile
    QTest::addColumn<bool>("dropForm");     // the page lets go of the dialog while the module restarts

    QTest::newRow("Tibbo: a new port taken at its restart, with the dialog gone meanwhile")
        << "tibbo" << QStringList{"--module-port", "4601", "--module-reboot-ms", "300"}
        << QStringList{"portBox=4602"} << QString() << QStringList{} << "LAN ({B},4602)" << QList<int>{}
        << true;
    QTest::newRow("Wi-Fi: the client role, the instrument dials in")
        << "wifi" << QStringList{"--module-port", "4603"}
        << QStringList{"clientServerModeBox=Client", "serverIPLine={A}", "portBox=4604"} << QString()
        << QStringList{} << "LAN Server ({A},4604)" << QList<int>{STATE_CONNECTED} << false;
    QTest::newRow("an address outside the computer's subnet, declined")
        << "tibbo" << QStringList{"--module-port", "4605"} << QStringList{"ipAddressLine=10.232.0.9"} << "No"
        << QStringList{"New settings force device to be unreachable.\nProceed?"} << "LAN ({B},4605)"
        << QList<int>{} << false;
    QTest::newRow("a module refusing every command: told, connected as before")
        << "tibbo" << QStringList{"--module-port", "4607", "--module-fault", "error"}
        << QStringList{"ipAddressLine={B}"} << QString()
        << QStringList{"|Changing interface settings failed!|Because of unknown reason changing interface "
                       "settings failed. Trying to reconnect to device."}
        << "LAN ({B},4607)" << QList<int>{} << false;
}

void TstInterfaceDialog::changesTheModule()
{
    REQUIRE_NETNS(m_netns);
    QFETCH(QString, dialect);
    QFETCH(QStringList, options);
    QFETCH(QStringList, edits);
    QFETCH(QString, answer);
    QFETCH(QStringList, seen);
    QFETCH(QString, transport);
    QFETCH(QList<int>, heard);
    QFETCH(bool, dropForm);
    const QString a = m_netns.value("A_ADDR");
    const QString b = m_netns.value("B_ADDR");
    transport.replace("{A}", a).replace("{B}", b);
    edits.replaceInStrings("{A}", a).replaceInStrings("{B}", b);
    const int port = options.at(options.indexOf("--module-port") + 1).toInt();

    ChildProcess sim;
    QVERIFY(m_netns.startSim(sim, QStringList{"--module", dialect, "--module-address", b, "--module-mac",
                                              m_netns.value("B_MAC"), "--model", "T-IFD"} +
                                      options));
    QVERIFY(!sim.waitForLine("ROLE ").isEmpty());

    // The instrument as a search leaves it: its module read, connected through it.
    new CServersPool;
    CDevice device;
    CInterfaceModule* module =
        dialect == QLatin1String("tibbo")
            ? static_cast<CInterfaceModule*>(new CTibbo(
                  QHostAddress(a), 0xffffff00, CTibbo::macFromArp(m_netns.arpMac("B_MAC")), QHostAddress(b)))
            : new CESP(QHostAddress(a), 0xffffff00, m_netns.value("B_MAC").toUpper().toLatin1(),
                       QHostAddress(b));
    device.setModule(module);
    QSignalSpy read(module, &CInterfaceModule::infoReady);
    QSignalSpy refused(module, &CInterfaceModule::commandFailed);
    module->readInfo(1);
    QTRY_VERIFY(read.count() + refused.count() > 0);
    if (read.isEmpty()) {
        // Refusing even to be read: the settings a search would have found.
        module->setPlannedSettings(false, CInterfaceModule::ROUTING_SERVER, QHostAddress(a),
                                   QHostAddress("255.255.255.0"), CInterfaceModule::PROTOCOL_TCP);
    }
    device.setLAN(QHostAddress(b), port);
    CDeviceController* controller = CDeviceController::instance();
    controller->setCurrentDevice(&device);
    QVERIFY(device.connectDevice(true));
    QTRY_COMPARE(device.model(), QStringLiteral("T-IFD"));
    QList<int> told;
    connect(controller, &CControllerInterface::deviceStateChanged, &sim.process,
            [&told](int s) { told << s; });
    int sent = 0;
    connect(module, &CInterfaceModule::newOutLog, &sim.process, [&sent] { ++sent; });

    auto dialog = std::make_unique<InterfaceDialog>();
    dialog->show();
    if (!read.isEmpty()) {
        QCOMPARE(dialog->findChild<QSpinBox*>("portBox")->value(), port);
    }
    edit(dialog.get(), edits);
    ModalAnswerer watcher(answer, {}, 4000);
    auto* set = dialog->findChild<QPushButton*>("saveButton");
    QTest::mouseClick(set, Qt::LeftButton);

    if (answer == QLatin1String("No")) {
        QCOMPARE(sent, 0);
        QVERIFY(dialog->isVisible());
        QVERIFY(set->isEnabled());
    } else {
        QVERIFY(qobject_cast<PelmProgressDialog*>(QApplication::activeModalWidget()));
        if (dropForm) {
            dialog.reset();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!dialog || !dialog->isVisible(), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(device.state(), int(STATE_CONNECTED), 30000);
    }
    QCOMPARE(watcher.texts, seen);
    QCOMPARE(device.interfaceDescription(), transport);
    QCOMPARE(told, heard);
    QVERIFY(!controller->quiet());
    QVERIFY(device.checkEcho());
    // Once it is over, a disconnection is the program's own: nothing more goes to the module.
    sent = 0;
    device.disconnectDevice();
    QCOMPARE(device.state(), int(STATE_DISCONNECTED));
    QCOMPARE(sent, 0);
}

QTEST_MAIN(TstInterfaceDialog)
#include "tst_interfacedialog.moc"
