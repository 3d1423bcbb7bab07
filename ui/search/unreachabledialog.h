#pragma once

#include "platform/pinger.h"

#include <QDialog>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QVariant>

class CDevice;
class CInterfaceModule;
class PelmAbstractItem;
class PelmModelView;
class QLabel;
class QPushButton;

// What both reachability dialogs share, whatever their form: the rows of module settings to change,
// built from the reasons a network instrument cannot be reached; the commands and values they hand to
// the module; and the search for a free address to propose, one ping at a time.
class UnreachableDialog : public QDialog
{
    Q_OBJECT
public:
    // The three cells of a row carry kind, kind + 1 and kind + 2 as item types.
    enum RowKind
    {
        ROW_IP_ADDRESS = 10,
        ROW_REMOTE_IP = 20,
        ROW_PROTOCOL = 30,
        ROW_STATIC_DYNAMIC = 40,
        ROW_NETMASK = 50,
    };

    // One command id per value row, plus COMMAND_START_CLIENT_SERVER after a Remote IP row.
    QList<int> commands() const;
    // One argument per entry of commands(), from the new-value cells as they stand.
    QList<QVariant> values() const;

public slots:
    // Refused while a new address cell does not hold a valid address (or netmask).
    void accept() override;
    // Whichever way the dialog ends, no further ping is started.
    void done(int r) override;

protected:
    explicit UnreachableDialog(QWidget* parent);

    // Called by the form's constructor once its widgets exist: fills the table for device and starts
    // the search.
    void setUp(CDevice* device, QLabel* label, PelmModelView* parameters, QPushButton* apply,
               QPushButton* cancel);

private slots:
    void onPingFinished(QHostAddress address, Pinger::Result result);

private:
    // The usable host addresses (host order) of the subnet that holds address; a /31 has two, a /32 one.
    struct Range
    {
        quint32 first = 0;
        quint32 last = 0;
        bool isEmpty() const { return last < first; }
    };
    static Range usableHosts(quint32 address, quint32 netmask);
    // The addresses the free-address search asks about, in this order: the subnet's hosts but its first
    // and last (where gateways usually sit), within the /24 block of address, so never more than 254;
    // empty for a /31 or /32, which hold no address to give away.
    static Range searchCandidates(quint32 address, quint32 netmask);

    void addRows(int reason);
    void addRow(RowKind kind);
    void startSearch();
    void testCandidate();
    bool valuesValid() const;
    void updateApply();

    QLabel* m_label = nullptr;
    PelmModelView* m_parameters = nullptr;
    QPushButton* m_apply = nullptr;
    QList<int> m_commands;
    // Parallel to m_commands; null for the command that has no cell of its own.
    QList<PelmAbstractItem*> m_items;
    CInterfaceModule* m_module = nullptr;
    quint32 m_computer = 0;
    quint32 m_netmask = 0;
    quint32 m_candidate = 0;
    quint32 m_lastCandidate = 0;
    PelmAbstractItem* m_ipItem = nullptr;
    // True while the ping of m_candidate is out.
    bool m_pinging = false;
};
