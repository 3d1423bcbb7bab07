#include "ui/log/filterdialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

FilterDialog::FilterDialog(const QStringList& labels, const QVector<bool>& checked, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Filters"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Choose collumns to filter"), this));
    m_list = new QListWidget(this);
    for (int i = 0; i < labels.size(); ++i) {
        auto* item = new QListWidgetItem(labels.at(i), m_list);
        item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
        item->setCheckState(checked.value(i, false) ? Qt::Checked : Qt::Unchecked);
    }
    layout->addWidget(m_list);

    auto* buttons = new QHBoxLayout;
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    auto* confirm = new QPushButton(QStringLiteral("Confirm"), this);
    confirm->setObjectName(QStringLiteral("confirmButton"));
    confirm->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(confirm);
    layout->addLayout(buttons);
    connect(cancel, &QPushButton::clicked, this, &FilterDialog::cancelClicked);
    connect(confirm, &QPushButton::clicked, this, &FilterDialog::setFilters);
}

void FilterDialog::setFilters()
{
    QVector<bool> states;
    for (int i = 0; i < m_list->count(); ++i) {
        states << (m_list->item(i)->checkState() == Qt::Checked);
    }
    emit filterList(states);
    accept();
}

void FilterDialog::cancelClicked()
{
    reject();
}
