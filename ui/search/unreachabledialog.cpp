#include "ui/search/unreachabledialog.h"

#include "device/cdevice.h"
#include "device/devicetypes.h"
#include "interface/cinterfacemodule.h"
#include "platform/ipv4.h"
#include "platform/logcategories.h"
#include "ui/pelmitems.h"
#include "ui/pelmmodelview.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>

#include <algorithm>

namespace {

QString dotted(quint32 address)
{
    return QHostAddress(address).toString();
}

bool isNetmask(const QString& text)
{
    if (!PelmIPLineItem::isValidAddress(text)) {
        return false;
    }
    return isContiguousMask(ipv4(QHostAddress(text)));
}

} // namespace

UnreachableDialog::UnreachableDialog(QWidget* parent) : QDialog(parent) {}

UnreachableDialog::Range UnreachableDialog::usableHosts(quint32 address, quint32 netmask)
{
    const quint32 network = address & netmask;
    const quint32 broadcast = network | ~netmask;
    if (broadcast - network < 2) {
        return {network, broadcast};
    }
    return {network + 1, broadcast - 1};
}

UnreachableDialog::Range UnreachableDialog::searchCandidates(quint32 address, quint32 netmask)
{
    // A /31 or /32: no host besides the computer and its peer.
    if (~netmask < 3) {
        return {1, 0};
    }
    const Range hosts = usableHosts(address, netmask);
    // In a /30 the second host is the only one left once the first is spared.
    const quint32 first = hosts.first + 1;
    const quint32 last = std::max(first, hosts.last - 1);
    const quint32 block = address & 0xffffff00;
    return {std::max(first, block + 1), std::min(last, block + 254)};
}

void UnreachableDialog::setUp(CDevice* device, QLabel* label, PelmModelView* parameters, QPushButton* apply,
                              QPushButton* cancel)
{
    m_label = label;
    m_parameters = parameters;
    m_apply = apply;
    connect(apply, &QPushButton::clicked, this, &UnreachableDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &UnreachableDialog::reject);
    m_parameters->setColumnNames({tr("Current value"), tr("Allowed values"), tr("New value")});

    m_module = device ? device->module() : nullptr;
    if (m_module) {
        m_computer = ipv4(m_module->localAddress());
        m_netmask = m_module->localNetmask();
        const QList<int> reasons = device->unreachableReasons();
        for (int reason : reasons) {
            addRows(reason);
        }
    }
    // Every row and every value in view without scrolling, measured in the style the dialog is shown in.
    ensurePolished();
    QHeaderView* columns = m_parameters->horizontalHeader();
    QHeaderView* rows = m_parameters->verticalHeader();
    columns->resizeSections(QHeaderView::ResizeToContents);
    rows->resizeSections(QHeaderView::ResizeToContents);
    // The new values arrive later (the free address) or are typed: room for any address.
    const int newValue = columns->count() - 1;
    const int addressWidth =
        m_parameters->fontMetrics().horizontalAdvance(QStringLiteral("255.255.255.255")) + 24;
    if (newValue >= 0 && columns->sectionSize(newValue) < addressWidth) {
        columns->resizeSection(newValue, addressWidth);
    }
    const int frame = 2 * m_parameters->frameWidth();
    m_parameters->setMinimumWidth(rows->sizeHint().width() + columns->length() + frame);
    m_parameters->setFixedHeight(columns->sizeHint().height() + rows->length() + frame);
    resize(sizeHint());
    connect(m_parameters->itemModel(), &QStandardItemModel::itemChanged, this,
            &UnreachableDialog::updateApply);
    updateApply();
    startSearch();
}

void UnreachableDialog::addRows(int reason)
{
    const QString explanationA = tr("It looks like there is now DHCP server in subnet.\n\r\n\r"
                                    "You can either\n\r"
                                    "  Click CANCEL and enable DHCP server\n\r"
                                    "or\n\r"
                                    "  Switch to static IP by changing following settings:");
    const QString explanationB =
        tr("It looks like device IP address (obtained from DHCP server) is not reachable.\n\r\n\r"
           "You can either\n\r"
           "  Click CANCEL and correct DHCP server settings\n\r"
           "or\n\r"
           "  Switch to static IP by changing following settings:");
    switch (reason) {
    case REASON_NO_DHCP_ADDRESS:
        m_label->setText(explanationA);
        addRow(ROW_STATIC_DYNAMIC);
        addRow(ROW_IP_ADDRESS);
        break;
    case REASON_DHCP_ADDRESS_NOT_LOCAL:
        m_label->setText(explanationB);
        addRow(ROW_STATIC_DYNAMIC);
        addRow(ROW_IP_ADDRESS);
        break;
    case REASON_ADDRESS_NOT_LOCAL:
        addRow(ROW_IP_ADDRESS);
        break;
    case REASON_DHCP_CANNOT_REACH_COMPUTER:
        m_label->setText(explanationB);
        addRow(ROW_STATIC_DYNAMIC);
        addRow(ROW_NETMASK);
        break;
    case REASON_CANNOT_REACH_COMPUTER:
        // With the computer's netmask already, only the address can be wrong.
        addRow(ipv4(m_module->netmask()) == m_netmask ? ROW_IP_ADDRESS : ROW_NETMASK);
        break;
    case REASON_WRONG_REMOTE_IP:
        addRow(ROW_REMOTE_IP);
        break;
    case REASON_WRONG_PROTOCOL:
        addRow(ROW_PROTOCOL);
        break;
    default:
        qCDebug(lcSearch) << "no settings for reason" << reason;
        break;
    }
}

void UnreachableDialog::addRow(RowKind kind)
{
    QString name;
    QString current;
    QString allowed;
    PelmAbstractItem* newValue = nullptr;
    int command = CInterfaceModule::COMMAND_NONE;
    switch (kind) {
    case ROW_STATIC_DYNAMIC:
        name = tr("Static/Dynamic");
        current = m_module->dhcp() ? tr("Dynamic") : tr("Static");
        allowed = tr("Static/Dynamic");
        newValue = new PelmNominalItem(name, {tr("Static"), tr("Dynamic")}, 0);
        command = CInterfaceModule::COMMAND_SET_DHCP;
        break;
    case ROW_IP_ADDRESS: {
        name = tr("IP Address");
        // A module whose settings were never read is known by the address it answered from.
        current = (m_module->ip().isNull() ? m_module->moduleAddress() : m_module->ip()).toString();
        const Range hosts = usableHosts(m_computer, m_netmask);
        allowed = hosts.first == hosts.last
                      ? dotted(hosts.first)
                      : dotted(hosts.first) + QStringLiteral(" - ") + dotted(hosts.last);
        newValue = new PelmIPLineItem(name, QStringLiteral(""));
        command = CInterfaceModule::COMMAND_SET_IP;
        m_ipItem = newValue;
        break;
    }
    case ROW_NETMASK:
        name = tr("Netmask");
        current = m_module->netmask().toString();
        allowed = dotted(m_netmask);
        newValue = new PelmIPLineItem(name, allowed);
        command = CInterfaceModule::COMMAND_SET_NETMASK;
        break;
    case ROW_REMOTE_IP:
        name = tr("Remote IP");
        current = m_module->remoteIp().toString();
        allowed = dotted(m_computer);
        newValue = new PelmIPLineItem(name, allowed);
        command = CInterfaceModule::COMMAND_SET_REMOTE_IP;
        break;
    case ROW_PROTOCOL:
        name = tr("Protocol");
        current = m_module->protocolText();
        allowed = QStringLiteral("TCP");
        newValue = new PelmIPLineItem(name, allowed);
        command = CInterfaceModule::COMMAND_SET_TRANSPORT_PROTOCOL;
        break;
    }
    // Two reasons may ask for the same setting; it is changed once.
    if (m_commands.contains(command)) {
        delete newValue;
        return;
    }
    const int row = m_parameters->itemModel()->rowCount();
    auto place = [this, row, kind](int column, PelmAbstractItem* cell) {
        cell->setType(kind + column);
        m_parameters->setItem(row, column, cell);
    };
    const QStringList readOnly = {current, allowed};
    for (int column = 0; column < readOnly.size(); ++column) {
        auto* cell = new PelmIPLineItem(name, readOnly.at(column), false);
        cell->setEnabled(false);
        place(column, cell);
    }
    place(readOnly.size(), newValue);
    m_parameters->setRowName(row, name);
    m_commands << command;
    m_items << newValue;
    // The module dials the computer again only once told to.
    if (kind == ROW_REMOTE_IP) {
        m_commands << CInterfaceModule::COMMAND_START_CLIENT_SERVER;
        m_items << nullptr;
    }
}

QList<int> UnreachableDialog::commands() const
{
    return m_commands;
}

QList<QVariant> UnreachableDialog::values() const
{
    QList<QVariant> values;
    for (int i = 0; i < m_commands.size(); ++i) {
        const PelmAbstractItem* item = m_items.at(i);
        switch (m_commands.at(i)) {
        case CInterfaceModule::COMMAND_SET_DHCP:
            values << (static_cast<const PelmNominalItem*>(item)->currentIndex() == 1);
            break;
        case CInterfaceModule::COMMAND_START_CLIENT_SERVER:
            values << 0;
            break;
        case CInterfaceModule::COMMAND_SET_TRANSPORT_PROTOCOL:
            values << int(item->value().toString().contains(QStringLiteral("UDP"))
                              ? CInterfaceModule::PROTOCOL_UDP
                              : CInterfaceModule::PROTOCOL_TCP);
            break;
        default:
            values << item->value();
            break;
        }
    }
    return values;
}

bool UnreachableDialog::valuesValid() const
{
    for (int i = 0; i < m_commands.size(); ++i) {
        const QString text = m_items.at(i) ? m_items.at(i)->value().toString() : QString();
        switch (m_commands.at(i)) {
        case CInterfaceModule::COMMAND_SET_IP:
        case CInterfaceModule::COMMAND_SET_REMOTE_IP:
            if (!PelmIPLineItem::isValidAddress(text)) {
                return false;
            }
            break;
        case CInterfaceModule::COMMAND_SET_NETMASK:
            if (!isNetmask(text)) {
                return false;
            }
            break;
        default:
            break;
        }
    }
    return true;
}

void UnreachableDialog::updateApply()
{
    // An empty or broken address would leave the instrument unreachable for good.
    m_apply->setEnabled(valuesValid());
}

void UnreachableDialog::accept()
{
    if (!valuesValid()) {
        return;
    }
    QDialog::accept();
}

void UnreachableDialog::done(int r)
{
    // An answer still on its way is then ignored, and no further ping follows.
    m_pinging = false;
    QDialog::done(r);
}

void UnreachableDialog::startSearch()
{
    const Range candidates = searchCandidates(m_computer, m_netmask);
    if (!m_module || m_computer == 0 || candidates.isEmpty()) {
        qCDebug(lcSearch) << "no address to look for in" << dotted(m_computer) << dotted(m_netmask);
        return;
    }
    connect(Pinger::instance(), &Pinger::finished, this, &UnreachableDialog::onPingFinished);
    m_candidate = candidates.first;
    m_lastCandidate = candidates.last;
    testCandidate();
}

void UnreachableDialog::testCandidate()
{
    // The computer's own address is taken, and asking would prove nothing.
    if (m_candidate == m_computer) {
        ++m_candidate;
    }
    if (m_candidate > m_lastCandidate) {
        qCDebug(lcSearch) << "no free address found";
        return;
    }
    qCDebug(lcSearch) << dotted(m_candidate);
    m_pinging = true;
    Pinger::instance()->ping(QHostAddress(m_candidate));
}

void UnreachableDialog::onPingFinished(QHostAddress address, Pinger::Result result)
{
    // The pinger is shared: only the answer to this dialog's own question counts.
    if (!m_pinging || ipv4(address) != m_candidate) {
        return;
    }
    m_pinging = false;
    if (result != Pinger::Silent) {
        // An address that answered is taken; one that could not be asked is not known to be free.
        qCDebug(lcSearch) << "IP IN USE -> LOOKING FURTHER" << address.toString() << result;
        ++m_candidate;
        testCandidate();
        return;
    }
    qCDebug(lcSearch) << "IP FREE -> FOUND" << address.toString();
    if (m_ipItem && !m_parameters->isEditing() && m_ipItem->value().toString().isEmpty()) {
        m_ipItem->setValue(address.toString());
    }
}
