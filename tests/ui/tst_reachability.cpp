// The reachability dialogs: what they explain and propose for the reasons an instrument cannot be
// reached, what they hand to the module, and the search for a free address, asked of a scripted pinger
// (and once of the system's ping inside the test namespaces); the device page's side of a repair.
// The module settings dialog: what the form lets go to a module, and changes carried out against
// mervik-sim's modules inside the test namespaces (the computer in "a", the instrument behind its module
// in "b").
#include "controller/cdevicecontroller.h"
#include "device/cdevice.h"
#include "interface/cesp.h"
#include "interface/cserverspool.h"
#include "interface/ctibbo.h"
#include "platform/pinger.h"
#include "support/recordfields.h"
#include "support/testnetns.h"
#include "support/widgetuser.h"
#include "ui/interfacedialog.h"
#include "ui/pelmmodelview.h"
#include "ui/pelmprogressdialog.h"
#include "ui/search/cdialogwhyunreachable.h"
#include "ui/search/dialogrepairprompt.h"
#include "ui/search/mervikunreachabledialog.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

// Answers from a script ("*" for every other address, taken by default) one event-loop turn later,
// and records what it was asked.
class FakePinger : public Pinger
{
public:
    void ping(const QHostAddress& address) override
    {
        asked << address.toString();
        maxOutstanding = std::max(maxOutstanding, ++outstanding);
        const Result result = script.value(address.toString(), script.value(QStringLiteral("*"), Answered));
        QTimer::singleShot(0, this, [this, address, result] {
            --outstanding;
            emit finished(address, result);
        });
    }

    QMap<QString, Result> script;
    QStringList asked;
    int outstanding = 0;
    int maxOutstanding = 0;
};

// A device with moduleWith(changes, computer), judged.
std::unique_ptr<CDevice> deviceWith(const QString& changes, const QString& computer = "192.168.1.20/24")
{
    auto device = std::make_unique<CDevice>();
    CTibbo* module = moduleWith(changes, computer);
    device->setModule(module);
    device->isReachable(module);
    return device;
}

// The texts of a column; -1: the row names.
QStringList texts(PelmModelView* view, int column)
{
    QStringList texts;
    for (int row = 0; row < view->itemModel()->rowCount(); ++row) {
        texts << (column < 0 ? view->itemModel()->verticalHeaderItem(row)->text()
                             : view->itemModel()->index(row, column).data().toString());
    }
    return texts;
}

QModelIndex cell(PelmModelView* view, const QString& row, int column)
{
    return view->itemModel()->index(texts(view, -1).indexOf(row), column);
}

// Fields of a row, split at "|".
QString field(const QString& row, int index)
{
    return row.section(QLatin1Char('|'), index, index).trimmed();
}

// "4=bool:true 5=QString:10.0.0.1": each command with its argument and the argument's type.
QString described(const QList<int>& commands, const QList<QVariant>& values)
{
    QStringList parts;
    for (int i = 0; i < commands.size(); ++i) {
        const QVariant value = values.value(i);
        parts << QStringLiteral("%1=%2:%3").arg(commands.at(i)).arg(value.typeName(), value.toString());
    }
    return parts.join(QLatin1Char(' '));
}

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

class TstReachability : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // The modules' sockets are made in the tests, after this thread entered the namespace.
        m_netns.enter();
        // The modules stand for ones seen from computers elsewhere: their sockets cannot bind here.
        QLoggingCategory::setFilterRules(QStringLiteral("mervik.interface.warning=false"));
    }
    void init()
    {
        // A fresh double for each case: no answer left over from an earlier one, and no dialog asks the
        // system.
        m_pinger = std::make_unique<FakePinger>();
        Pinger::setInstance(m_pinger.get());
    }
    void proposal_data()
    {
        // dialog: plain or styled | settings | words of the label: the form's own text or one of the two
        // explanations | row name=current value;... | row name=new value;... as the cell editors commit them
        // | command=argument with its type ... | whether Apply is enabled
        QTest::addColumn<QString>("row");
        QTest::newRow("no DHCP address, UDP, edited")
            << "styled | dhcp=1 obtained=0 protocol=2 | now DHCP server | "
               "Static/Dynamic=Dynamic;IP Address=192.168.1.50;Protocol=UDP | "
               "Static/Dynamic=Dynamic;IP Address=192.168.1.77;Protocol=UDP | "
               "4=bool:true 5=QString:192.168.1.77 21=int:2 | on";
        QTest::newRow("DHCP address elsewhere")
            << "plain | dhcp=1 address=172.16.0.9 | (obtained from DHCP server) | "
               "Static/Dynamic=Dynamic;IP Address=172.16.0.9 | IP Address=192.168.1.77 | "
               "4=bool:false 5=QString:192.168.1.77 | on";
        QTest::newRow("static address elsewhere")
            << "styled | address=172.16.0.9 | changed<br> | IP Address=172.16.0.9 | | 5=QString: | off";
        QTest::newRow("DHCP client, wrong subnet")
            << "styled | dhcp=1 routing=2 address=172.16.0.9 | (obtained from DHCP server) | "
               "Static/Dynamic=Dynamic;Netmask=255.255.255.0 | | 4=bool:false 7=QString:255.255.255.0 | on";
        QTest::newRow("static client, other netmask, broken edit")
            << "plain | routing=2 address=192.168.2.5 netmask=255.255.0.0 | changed in order | "
               "Netmask=255.255.0.0 | Netmask=255.0.255.0 | 7=QString:255.0.255.0 | off";
        QTest::newRow("client elsewhere, dialling another, UDP")
            << "styled | routing=2 address=172.16.0.9 remote=192.168.1.21 protocol=2 | changed<br> | "
               "IP Address=172.16.0.9;Remote IP=192.168.1.21;Protocol=UDP | "
               "IP Address=192.168.1.30;Protocol=tcp/udp | 5=QString:192.168.1.30 10=QString:192.168.1.20 "
               "13=int:0 21=int:1 | on";
    }
    void proposal()
    {
        QFETCH(QString, row);
        const auto device = deviceWith(field(row, 1));
        const std::unique_ptr<UnreachableDialog> dialog(
            field(row, 0) == "plain"
                ? static_cast<UnreachableDialog*>(new CDialogWhyUnreachable(device.get()))
                : new MervikUnreachableDialog(device.get()));
        const QString label = dialog->findChild<QLabel*>(QStringLiteral("label"))->text();
        QVERIFY2(label.contains(field(row, 2)), qPrintable(label));
        PelmModelView* view = dialog->findChild<PelmModelView*>(QStringLiteral("parameters"));
        QStringList shown;
        for (int r = 0; r < view->itemModel()->rowCount(); ++r) {
            shown << texts(view, -1).at(r) + QLatin1Char('=') + texts(view, 0).at(r);
            // Only the new value can be changed.
            QCOMPARE(view->itemModel()->item(r, 1)->flags() & Qt::ItemIsEditable, Qt::ItemFlags());
            QCOMPARE(view->itemModel()->item(r, 2)->flags() & Qt::ItemIsEditable, Qt::ItemIsEditable);
        }
        QCOMPARE(shown.join(QLatin1Char(';')), field(row, 3));
        const QStringList edits = field(row, 4).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (const QString& edit : edits) {
            const QModelIndex index = cell(view, edit.section(QLatin1Char('='), 0, 0), 2);
            QVERIFY(view->itemModel()->setData(index, edit.section(QLatin1Char('='), 1), Qt::EditRole));
        }
        QCOMPARE(described(dialog->commands(), dialog->values()), field(row, 5));
        auto* apply = dialog->findChild<QPushButton*>(QStringLiteral("pbApply"));
        QCOMPARE(apply->isEnabled(), field(row, 6) == "on");
        apply->click();
        QCOMPARE(dialog->result() == QDialog::Accepted, apply->isEnabled());
    }
    void freeAddressSearch_data()
    {
        // computer | answers | action before the first answer | allowed range shown | first and last address
        // asked, and how many | address proposed
        QTest::addColumn<QString>("row");
        QTest::newRow("taken, unknown, free")
            << "192.168.1.20/24 | 192.168.1.3=unknown 192.168.1.4=silent | | "
               "192.168.1.1 - 192.168.1.254 | 192.168.1.2 192.168.1.4 3 | 192.168.1.4";
        // The computer's own address is not asked about.
        QTest::newRow("/24, all taken")
            << "192.168.1.20/24 | | | 192.168.1.1 - 192.168.1.254 | 192.168.1.2 192.168.1.253 251 |";
        QTest::newRow("/16: the computer's /24 only")
            << "10.1.5.20/16 | | | 10.1.0.1 - 10.1.255.254 | 10.1.5.1 10.1.5.254 253 |";
        QTest::newRow("/30") << "192.168.1.21/30 | *=silent | | 192.168.1.21 - 192.168.1.22 | "
                                "192.168.1.22 192.168.1.22 1 | 192.168.1.22";
        QTest::newRow("/31") << "192.168.1.20/31 | *=silent | | 192.168.1.20 - 192.168.1.21 | |";
        QTest::newRow("/32") << "192.168.1.20/32 | *=silent | | 192.168.1.20 | |";
        QTest::newRow("typed address kept")
            << "192.168.1.20/24 | *=silent | type | 192.168.1.1 - 192.168.1.254 | "
               "192.168.1.2 192.168.1.2 1 | 192.168.1.99";
        QTest::newRow("cell being edited")
            << "192.168.1.20/24 | *=silent | edit | 192.168.1.1 - 192.168.1.254 | "
               "192.168.1.2 192.168.1.2 1 |";
        QTest::newRow("rejected meanwhile")
            << "192.168.1.20/24 | | reject | 192.168.1.1 - 192.168.1.254 | 192.168.1.2 192.168.1.2 1 |";
        QTest::newRow("destroyed meanwhile")
            << "192.168.1.20/24 | | delete | 192.168.1.1 - 192.168.1.254 | 192.168.1.2 192.168.1.2 1 |";
    }
    void freeAddressSearch()
    {
        QFETCH(QString, row);
        const QMap<QString, Pinger::Result> results{
            {"answered", Pinger::Answered}, {"silent", Pinger::Silent}, {"unknown", Pinger::Unknown}};
        const QStringList answers = field(row, 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (const QString& answer : answers) {
            m_pinger->script.insert(answer.section(QLatin1Char('='), 0, 0),
                                    results.value(answer.section(QLatin1Char('='), 1)));
        }
        const auto device = deviceWith(QStringLiteral("address=172.16.0.9"), field(row, 0));
        QPointer<MervikUnreachableDialog> dialog = new MervikUnreachableDialog(device.get());
        const auto release = qScopeGuard([&dialog] { delete dialog; });
        PelmModelView* view = dialog->findChild<PelmModelView*>(QStringLiteral("parameters"));
        const QModelIndex ipCell = cell(view, QStringLiteral("IP Address"), 2);
        QCOMPARE(cell(view, QStringLiteral("IP Address"), 1).data().toString(), field(row, 3));
        const QString action = field(row, 2);
        if (action == "type") {
            view->itemModel()->setData(ipCell, QStringLiteral("192.168.1.99"), Qt::EditRole);
        } else if (action == "edit") {
            dialog->show();
            view->edit(ipCell);
            QVERIFY(view->isEditing());
        } else if (action == "reject") {
            dialog->reject();
        } else if (action == "delete") {
            delete dialog;
        }
        // Each answer is followed at once by the next question, if any: nothing outstanding is the end.
        QTRY_COMPARE(m_pinger->outstanding, 0);
        const QStringList& asked = m_pinger->asked;
        QCOMPARE(m_pinger->maxOutstanding, asked.isEmpty() ? 0 : 1);
        QVERIFY(std::is_sorted(asked.begin(), asked.end(), [](const QString& a, const QString& b) {
            return QHostAddress(a).toIPv4Address() <= QHostAddress(b).toIPv4Address();
        }));
        const QString bound =
            QStringList{asked.value(0), asked.value(asked.size() - 1), QString::number(asked.size())}.join(
                ' ');
        QCOMPARE(bound, asked.isEmpty() ? QStringLiteral("  0") : field(row, 4));
        if (dialog) {
            QCOMPARE(ipCell.data().toString(), field(row, 5));
            QCOMPARE(dialog->findChild<QPushButton*>(QStringLiteral("pbApply"))->isEnabled(),
                     !field(row, 5).isEmpty());
        }
    }
    void repairPrompt()
    {
        const auto device = deviceWith(QStringLiteral("routing=2 remote=192.168.1.21"));
        QWidget page;
        DialogRepairPrompt prompt(&page);
        for (const bool accept : {true, false}) {
            ModalAnswerer user(QString(), [accept](QWidget* dialog) {
                dialog->findChild<QPushButton*>(accept ? "pbApply" : "pbCancel")->click();
                return QString::fromLatin1(dialog->metaObject()->className());
            });
            QList<int> commands;
            QList<QVariant> arguments;
            QCOMPARE(prompt.proposeSettings(device.get(), &commands, &arguments), accept);
            QCOMPARE(user.texts, QStringList{"MervikUnreachableDialog"});
            QCOMPARE(described(commands, arguments),
                     accept ? QStringLiteral("10=QString:192.168.1.20 13=int:0") : QString());
        }

        auto progress = [] { return qobject_cast<PelmProgressDialog*>(QApplication::activeModalWidget()); };
        prompt.showProgress(QStringLiteral("Changing interface settings..."));
        QVERIFY(progress() && progress()->isVisible());
        QCOMPARE(progress()->text(), QStringLiteral("Changing interface settings..."));
        prompt.closeProgress();
        QTRY_VERIFY(!progress());
    }
    void systemPingInNamespaces()
    {
        REQUIRE_NETNS(m_netns);
        // Only here the system's ping is used, and only inside the namespaces.
        Pinger::setInstance(nullptr);
        // The instrument side answers at the first candidate; the next address is free.
        const quint32 network = m_netns.address(QStringLiteral("A_ADDR")).toIPv4Address() & 0xffffff00;
        const auto device = deviceWith(QStringLiteral("address=172.16.0.9"), m_netns.value("A_ADDR") + "/24");
        MervikUnreachableDialog dialog(device.get());
        const QModelIndex ipCell = cell(dialog.findChild<PelmModelView*>(QStringLiteral("parameters")),
                                        QStringLiteral("IP Address"), 2);
        QTRY_COMPARE_WITH_TIMEOUT(ipCell.data().toString(), QHostAddress(network + 3).toString(),
                                  2 * SystemPinger::BoundMs);
    }
    void setOnlyForWhatAModuleTakes_data()
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
    void setOnlyForWhatAModuleTakes()
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
    void changesTheModule_data()
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
            << "tibbo" << QStringList{"--module-port", "4605"} << QStringList{"ipAddressLine=10.232.0.9"}
            << "No" << QStringList{"New settings force device to be unreachable.\nProceed?"}
            << "LAN ({B},4605)" << QList<int>{} << false;
        QTest::newRow("a module refusing every command: told, connected as before")
            << "tibbo" << QStringList{"--module-port", "4607", "--module-fault", "error"}
            << QStringList{"ipAddressLine={B}"} << QString()
            << QStringList{"|Changing interface settings failed!|Because of unknown reason changing "
                           "interface "
                           "settings failed. Trying to reconnect to device."}
            << "LAN ({B},4607)" << QList<int>{} << false;
    }
    void changesTheModule()
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
                ? static_cast<CInterfaceModule*>(new CTibbo(QHostAddress(a), 0xffffff00,
                                                            CTibbo::macFromArp(m_netns.arpMac("B_MAC")),
                                                            QHostAddress(b)))
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
    void cleanup()
    {
        CDeviceController::instance()->setCurrentDevice(nullptr);
        CDeviceController::instance()->setQuiet(false);
        delete CServersPool::instance();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

private:
    TestNetns m_netns{QStringLiteral(MERVIK_SIM_PATH)};
    std::unique_ptr<FakePinger> m_pinger;
};

QTEST_MAIN(TstReachability)
#include "tst_reachability.moc"
