// The reachability dialogs: what they explain and propose for the reasons an instrument cannot be
// reached, what they hand to the module, and the search for a free address, asked of a scripted pinger
// (and once of the system's ping inside the test namespaces); the device page's side of a repair.
#include "device/cdevice.h"
#include "interface/ctibbo.h"
#include "platform/pinger.h"
#include "search/cdialogwhyunreachable.h"
#include "search/dialogrepairprompt.h"
#include "search/mervikunreachabledialog.h"
#include "support/testnetns.h"
#include "ui/pelmmodelview.h"
#include "ui/pelmprogressdialog.h"

#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
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
        QMetaObject::invokeMethod(
            this,
            [this, address, result] {
                --outstanding;
                emit finished(address, result);
            },
            Qt::QueuedConnection);
    }

    QMap<QString, Result> script;
    QStringList asked;
    int outstanding = 0;
    int maxOutstanding = 0;
};

const QString FormLabel =
    QStringLiteral("Following settings has to be changed<br> in order for device to be reachable");
const QString PlainLabel =
    QStringLiteral("Following settings has to be changed in order for device to be reachable");
const QString ExplanationA = QStringLiteral("It looks like there is now DHCP server in subnet.\n\r\n\r"
                                            "You can either\n\r"
                                            "  Click CANCEL and enable DHCP server\n\r"
                                            "or\n\r"
                                            "  Switch to static IP by changing following settings:");
const QString ExplanationB =
    QStringLiteral("It looks like device IP address (obtained from DHCP server) is not reachable.\n\r\n\r"
                   "You can either\n\r"
                   "  Click CANCEL and correct DHCP server settings\n\r"
                   "or\n\r"
                   "  Switch to static IP by changing following settings:");

// A device whose module differs from a reachable static server at 192.168.1.50/24 by changes
// ("dhcp=1 routing=2"), seen from the computer "address/prefix"; nothing is sent.
std::unique_ptr<CDevice> deviceWith(const QString& changes, const QString& computer = "192.168.1.20/24")
{
    QMap<QString, QString> s{{"dhcp", "0"},    {"obtained", "1"},          {"address", "192.168.1.50"},
                             {"routing", "1"}, {"remote", "192.168.1.20"}, {"netmask", "255.255.255.0"},
                             {"protocol", "1"}};
    const QStringList fields = changes.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& field : fields) {
        s.insert(field.section(QLatin1Char('='), 0, 0), field.section(QLatin1Char('='), 1));
    }
    const int prefix = computer.section(QLatin1Char('/'), 1).toInt();
    const quint32 netmask = prefix == 0 ? 0 : ~quint32(0) << (32 - prefix);
    auto* module = new CTibbo(QHostAddress(computer.section(QLatin1Char('/'), 0, 0)), netmask,
                              "0.26.43.60.77.94", QHostAddress(s["address"]));
    module->setPlannedSettings(s["dhcp"] == "1", s["routing"].toInt(), QHostAddress(s["remote"]),
                               QHostAddress(s["netmask"]), s["protocol"].toInt());
    module->setDhcpState(s["dhcp"] == "1", s["obtained"] == "1");
    auto device = std::make_unique<CDevice>();
    device->setModule(module);
    device->isReachable(module);
    return device;
}

PelmModelView* table(QDialog* dialog)
{
    return dialog->findChild<PelmModelView*>(QStringLiteral("parameters"));
}

QStringList rowNames(PelmModelView* view)
{
    QStringList names;
    for (int row = 0; row < view->itemModel()->rowCount(); ++row) {
        names << view->itemModel()->verticalHeaderItem(row)->text();
    }
    return names;
}

QModelIndex cell(PelmModelView* view, const QString& row, int column)
{
    return view->itemModel()->index(rowNames(view).indexOf(row), column);
}

QStringList column(PelmModelView* view, int column)
{
    QStringList texts;
    for (int row = 0; row < view->itemModel()->rowCount(); ++row) {
        texts << view->itemModel()->index(row, column).data().toString();
    }
    return texts;
}

// "bool:true QString:10.0.0.1 int:0": values with their types.
QString describe(const QList<QVariant>& values)
{
    QStringList parts;
    for (const QVariant& value : values) {
        parts << QStringLiteral("%1:%2").arg(QString::fromLatin1(value.typeName()), value.toString());
    }
    return parts.join(QLatin1Char(' '));
}

} // namespace

class TstReachability : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void proposal_data();
    void proposal();
    void freeAddressSearch_data();
    void freeAddressSearch();
    void repairPrompt_data();
    void repairPrompt();
    void systemPingInNamespaces();

private:
    TestNetns m_netns;
    std::unique_ptr<FakePinger> m_pinger;
};

void TstReachability::initTestCase()
{
    // The modules' sockets are made in the tests, after this thread entered the namespace.
    m_netns.enter();
    // The modules stand for ones seen from computers elsewhere: their sockets cannot bind here.
    QLoggingCategory::setFilterRules(QStringLiteral("mervik.interface.warning=false"));
}

void TstReachability::init()
{
    // A fresh double for each case: no answer left over from an earlier one, and no dialog asks the system.
    m_pinger = std::make_unique<FakePinger>();
    Pinger::setInstance(m_pinger.get());
}

void TstReachability::cleanup()
{
    Pinger::setInstance(nullptr);
    m_pinger.reset();
}

void TstReachability::proposal_data()
{
    QTest::addColumn<bool>("plain");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QStringList>("current");
    QTest::addColumn<QString>("edits");
    QTest::addColumn<QList<int>>("commands");
    QTest::addColumn<QString>("values");
    QTest::addColumn<bool>("apply");

    const QStringList dhcpIpProtocol{"Static/Dynamic", "IP Address", "Protocol"};
    QTest::newRow("no DHCP address, UDP: explanation A")
        << false << "dhcp=1 obtained=0 protocol=2" << ExplanationA << dhcpIpProtocol
        << QStringList{"Dynamic", "192.168.1.50", "UDP"} << "" << QList<int>{4, 5, 21}
        << "bool:false QString: int:1" << false;
    QTest::newRow("the same, edited")
        << false << "dhcp=1 obtained=0 protocol=2" << ExplanationA << dhcpIpProtocol
        << QStringList{"Dynamic", "192.168.1.50", "UDP"}
        << "Static/Dynamic=Dynamic;IP Address=192.168.1.77;Protocol=UDP" << QList<int>{4, 5, 21}
        << "bool:true QString:192.168.1.77 int:2" << true;
    QTest::newRow("DHCP address elsewhere: explanation B, plain")
        << true << "dhcp=1 address=172.16.0.9" << ExplanationB << QStringList{"Static/Dynamic", "IP Address"}
        << QStringList{"Dynamic", "172.16.0.9"} << "IP Address=192.168.1.77" << QList<int>{4, 5}
        << "bool:false QString:192.168.1.77" << true;
    QTest::newRow("static address elsewhere")
        << false << "address=172.16.0.9" << FormLabel << QStringList{"IP Address"}
        << QStringList{"172.16.0.9"} << "" << QList<int>{5} << "QString:" << false;
    QTest::newRow("DHCP client in a wrong subnet: explanation B")
        << false << "dhcp=1 routing=2 address=172.16.0.9" << ExplanationB
        << QStringList{"Static/Dynamic", "Netmask"} << QStringList{"Dynamic", "255.255.255.0"} << ""
        << QList<int>{4, 7} << "bool:false QString:255.255.255.0" << true;
    QTest::newRow("static client with a wrong netmask, plain")
        << true << "routing=2 address=192.168.2.5 netmask=255.255.0.0" << PlainLabel << QStringList{"Netmask"}
        << QStringList{"255.255.0.0"} << "" << QList<int>{7} << "QString:255.255.255.0" << true;
    QTest::newRow("netmask edited to a broken one")
        << false << "routing=2 address=192.168.2.5 netmask=255.255.0.0" << FormLabel << QStringList{"Netmask"}
        << QStringList{"255.255.0.0"} << "Netmask=255.0.255.0" << QList<int>{7} << "QString:255.0.255.0"
        << false;
    QTest::newRow("client dialling another computer")
        << false << "routing=2 remote=192.168.1.21" << FormLabel << QStringList{"Remote IP"}
        << QStringList{"192.168.1.21"} << "" << QList<int>{10, 13} << "QString:192.168.1.20 int:0" << true;
    QTest::newRow("client elsewhere, wrong remote, UDP, protocol edited")
        << false << "routing=2 address=172.16.0.9 remote=192.168.1.21 protocol=2" << FormLabel
        << QStringList{"IP Address", "Remote IP", "Protocol"}
        << QStringList{"172.16.0.9", "192.168.1.21", "UDP"} << "IP Address=192.168.1.30;Protocol=tcp/udp"
        << QList<int>{5, 10, 13, 21} << "QString:192.168.1.30 QString:192.168.1.20 int:0 int:1" << true;
}

void TstReachability::proposal()
{
    QFETCH(bool, plain);
    QFETCH(QString, settings);
    QFETCH(QString, label);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, current);
    QFETCH(QString, edits);
    QFETCH(QList<int>, commands);
    QFETCH(QString, values);
    QFETCH(bool, apply);

    const auto device = deviceWith(settings);
    std::unique_ptr<UnreachableDialog> dialog;
    if (plain) {
        dialog = std::make_unique<CDialogWhyUnreachable>(device.get());
    } else {
        dialog = std::make_unique<MervikUnreachableDialog>(device.get());
    }
    QCOMPARE(bool(dialog->windowFlags() & Qt::FramelessWindowHint), !plain);
    QCOMPARE(dialog->findChild<QLabel*>(QStringLiteral("label"))->text(), label);
    PelmModelView* view = table(dialog.get());
    QCOMPARE(rowNames(view), rows);
    QCOMPARE(column(view, 0), current);
    for (int row = 0; row < rows.size(); ++row) {
        QVERIFY(!(view->itemModel()->item(row, 0)->flags() & Qt::ItemIsEditable));
        QVERIFY(!(view->itemModel()->item(row, 1)->flags() & Qt::ItemIsEditable));
        QVERIFY(view->itemModel()->item(row, 2)->flags() & Qt::ItemIsEditable);
    }
    // As the cell editors commit what the user chose or typed.
    const QStringList changes = edits.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& change : changes) {
        const QModelIndex index = cell(view, change.section(QLatin1Char('='), 0, 0), 2);
        QVERIFY(view->itemModel()->setData(index, change.section(QLatin1Char('='), 1), Qt::EditRole));
    }
    QCOMPARE(dialog->commands(), commands);
    QCOMPARE(describe(dialog->values()), values);
    QPushButton* applyButton = dialog->findChild<QPushButton*>(QStringLiteral("pbApply"));
    QCOMPARE(applyButton->isEnabled(), apply);
    applyButton->click();
    QCOMPARE(dialog->result(), apply ? int(QDialog::Accepted) : int(QDialog::Rejected));
}

void TstReachability::freeAddressSearch_data()
{
    QTest::addColumn<QString>("computer");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("allowed");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("proposed");

    const QString range24 = QStringLiteral("192.168.1.1 - 192.168.1.254");
    QTest::newRow("taken, unknown, free") << "192.168.1.20/24"
                                          << "192.168.1.3=unknown 192.168.1.4=silent"
                                          << "" << range24 << "192.168.1.2"
                                          << "192.168.1.4" << 3 << "192.168.1.4";
    // The computer's own address is not asked about.
    QTest::newRow("/24, all taken") << "192.168.1.20/24"
                                    << ""
                                    << "" << range24 << "192.168.1.2"
                                    << "192.168.1.253" << 251 << "";
    QTest::newRow("/24, nothing known") << "192.168.1.20/24"
                                        << "*=unknown"
                                        << "" << range24 << "192.168.1.2"
                                        << "192.168.1.253" << 251 << "";
    QTest::newRow("/16: the computer's /24 only") << "10.1.5.20/16"
                                                  << ""
                                                  << ""
                                                  << "10.1.0.1 - 10.1.255.254"
                                                  << "10.1.5.1"
                                                  << "10.1.5.254" << 253 << "";
    QTest::newRow("/30: one candidate") << "192.168.1.21/30"
                                        << "192.168.1.22=silent"
                                        << ""
                                        << "192.168.1.21 - 192.168.1.22"
                                        << "192.168.1.22"
                                        << "192.168.1.22" << 1 << "192.168.1.22";
    QTest::newRow("/31: none") << "192.168.1.20/31"
                               << ""
                               << ""
                               << "192.168.1.20 - 192.168.1.21"
                               << ""
                               << "" << 0 << "";
    QTest::newRow("/32: none") << "192.168.1.20/32"
                               << ""
                               << ""
                               << "192.168.1.20"
                               << ""
                               << "" << 0 << "";
    QTest::newRow("typed address kept") << "192.168.1.20/24"
                                        << "*=silent"
                                        << "type" << range24 << "192.168.1.2"
                                        << "192.168.1.2" << 1 << "192.168.1.99";
    QTest::newRow("cell being edited") << "192.168.1.20/24"
                                       << "*=silent"
                                       << "edit" << range24 << "192.168.1.2"
                                       << "192.168.1.2" << 1 << "";
    QTest::newRow("rejected meanwhile") << "192.168.1.20/24"
                                        << ""
                                        << "reject" << range24 << "192.168.1.2"
                                        << "192.168.1.2" << 1 << "";
    QTest::newRow("destroyed meanwhile") << "192.168.1.20/24"
                                         << ""
                                         << "delete" << range24 << "192.168.1.2"
                                         << "192.168.1.2" << 1 << "";
}

void TstReachability::freeAddressSearch()
{
    QFETCH(QString, computer);
    QFETCH(QString, script);
    QFETCH(QString, action);
    QFETCH(QString, allowed);
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(int, count);
    QFETCH(QString, proposed);

    const QMap<QString, Pinger::Result> results{
        {"answered", Pinger::Answered}, {"silent", Pinger::Silent}, {"unknown", Pinger::Unknown}};
    const QStringList answers = script.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& answer : answers) {
        m_pinger->script.insert(answer.section(QLatin1Char('='), 0, 0),
                                results.value(answer.section(QLatin1Char('='), 1)));
    }
    const auto device = deviceWith(QStringLiteral("address=172.16.0.9"), computer);
    QPointer<MervikUnreachableDialog> dialog = new MervikUnreachableDialog(device.get());
    const auto release = qScopeGuard([&dialog] { delete dialog; });
    PelmModelView* view = table(dialog);
    const QModelIndex ipCell = cell(view, QStringLiteral("IP Address"), 2);
    QCOMPARE(cell(view, QStringLiteral("IP Address"), 1).data().toString(), allowed);

    // Before the first answer arrives.
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
    // Each answer is followed at once by the next question, if any: nothing outstanding means the end.
    QTRY_COMPARE(m_pinger->outstanding, 0);
    QCOMPARE(m_pinger->asked.size(), count);
    QVERIFY(m_pinger->maxOutstanding <= 1);
    if (count > 0) {
        QCOMPARE(m_pinger->asked.first(), first);
        QCOMPARE(m_pinger->asked.last(), last);
        QVERIFY(std::is_sorted(m_pinger->asked.begin(), m_pinger->asked.end(),
                               [](const QString& a, const QString& b) {
                                   return QHostAddress(a).toIPv4Address() <= QHostAddress(b).toIPv4Address();
                               }));
    }
    if (dialog) {
        QCOMPARE(ipCell.data().toString(), proposed);
        QCOMPARE(dialog->findChild<QPushButton*>(QStringLiteral("pbApply"))->isEnabled(),
                 !proposed.isEmpty());
    }
}

void TstReachability::repairPrompt_data()
{
    QTest::addColumn<bool>("accept");
    QTest::newRow("applied") << true;
    QTest::newRow("cancelled") << false;
}

void TstReachability::repairPrompt()
{
    QFETCH(bool, accept);
    const auto device = deviceWith(QStringLiteral("routing=2 remote=192.168.1.21"));
    QWidget page;
    DialogRepairPrompt prompt(&page);

    // The user, answering the dialog once it is up; bounded, and a dialog left open is closed.
    int polls = 0;
    QTimer user;
    connect(&user, &QTimer::timeout, this, [&] {
        if (auto* dialog = qobject_cast<MervikUnreachableDialog*>(QApplication::activeModalWidget())) {
            dialog->findChild<QPushButton*>(accept ? QStringLiteral("pbApply") : QStringLiteral("pbCancel"))
                ->click();
        } else if (++polls > 500) {
            user.stop();
        }
    });
    user.start(10);
    QList<int> commands;
    QList<QVariant> arguments;
    QCOMPARE(prompt.proposeSettings(device.get(), &commands, &arguments), accept);
    user.stop();
    QCOMPARE(commands, accept ? QList<int>({10, 13}) : QList<int>());
    QCOMPARE(describe(arguments), accept ? QStringLiteral("QString:192.168.1.20 int:0") : QString());

    auto progress = [] { return qobject_cast<PelmProgressDialog*>(QApplication::activeModalWidget()); };
    prompt.showProgress(QStringLiteral("Changing interface settings..."));
    QVERIFY(progress() && progress()->isVisible());
    QCOMPARE(progress()->text(), QStringLiteral("Changing interface settings..."));
    prompt.closeProgress();
    QTRY_VERIFY(!progress());
}

void TstReachability::systemPingInNamespaces()
{
    REQUIRE_NETNS(m_netns);
    // Only here the system's ping is used, and only inside the namespaces.
    Pinger::setInstance(nullptr);
    // The instrument side answers at the first candidate; the next address is free.
    const QString computer = m_netns.value(QStringLiteral("A_ADDR")) + QStringLiteral("/24");
    const quint32 network = m_netns.address(QStringLiteral("A_ADDR")).toIPv4Address() & 0xffffff00;
    QCOMPARE(m_netns.address(QStringLiteral("B_ADDR")).toIPv4Address(), network + 2);
    const auto device = deviceWith(QStringLiteral("address=172.16.0.9"), computer);
    MervikUnreachableDialog dialog(device.get());
    const QModelIndex ipCell = cell(table(&dialog), QStringLiteral("IP Address"), 2);
    QTRY_COMPARE_WITH_TIMEOUT(ipCell.data().toString(), QHostAddress(network + 3).toString(),
                              2 * SystemPinger::BoundMs);
}

QTEST_MAIN(TstReachability)
#include "tst_reachability.moc"
