#include "ui/log/filterwidget.h"

#include "platform/logcategories.h"
#include "ui/log/datefilter.h"
#include "ui/log/inoutfilter.h"
#include "ui/log/numericfilter.h"
#include "ui/log/stringfilter.h"
#include "ui/log/timefilter.h"

#include <QLabel>
#include <QSqlField>
#include <QVBoxLayout>

FilterWidget::FilterWidget(QWidget* parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Filters"));
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(4, 4, 4, 4);
    auto* title = new QLabel(QStringLiteral("Filters"), this);
    title->setStyleSheet(QStringLiteral("font-weight: bold; color: #3b3b3b;"));
    m_layout->addWidget(title);
    // Beside the log it takes what its editors need, no more.
    setMaximumWidth(MaximumWidth);
}

void FilterWidget::init(QSqlRecord record, QVector<int> types, QStringList labels)
{
    if (initialized) {
        qCDebug(lcLog) << "ALREADY INITIALIZED!!";
        return;
    }
    initialized = true;
    for (int i = 0; i < skippedColumns && !record.isEmpty(); ++i) {
        record.remove(0);
    }
    for (int i = 0; i < record.count(); ++i) {
        const QString column = record.fieldName(i);
        const QString label = labels.value(i);
        AbstractFilter* filter = nullptr;
        switch (types.value(i, AbstractFilter::String)) {
        case AbstractFilter::Numeric:
            filter = new NumericFilter(column, i, label, this);
            break;
        case AbstractFilter::Date:
            filter = new DateFilter(column, i, label, this);
            break;
        case AbstractFilter::Time:
            filter = new TimeFilter(column, i, label, this);
            break;
        case AbstractFilter::InOut:
            filter = new InOutFilter(column, i, label, this);
            break;
        default:
            filter = new StringFilter(column, i, label, this);
            break;
        }
        filter->hide();
        m_layout->addWidget(filter);
        m_filters.append(filter);
        connect(filter, &AbstractFilter::filterChanged, this, &FilterWidget::filterChanged);
        connect(filter, &AbstractFilter::xClicked, this, &FilterWidget::onXClicked);
    }
    m_layout->addStretch(1);
}

QStringList FilterWidget::labels() const
{
    QStringList out;
    for (const AbstractFilter* filter : m_filters) {
        out << filter->label();
    }
    return out;
}

QVector<bool> FilterWidget::shownFilters() const
{
    QVector<bool> out;
    for (const AbstractFilter* filter : m_filters) {
        out << filter->isActive();
    }
    return out;
}

void FilterWidget::setFilters(QVector<bool> list)
{
    for (int i = 0; i < m_filters.size(); ++i) {
        const bool shown = list.value(i, false);
        m_filters[i]->setActive(shown);
        m_filters[i]->setVisible(shown);
    }
    hideWhenEmpty();
    // A filter switched on or off changes the condition at once.
    filterChanged();
}

void FilterWidget::filterChanged()
{
    QStringList parts;
    for (const AbstractFilter* filter : m_filters) {
        if (!filter->isActive()) {
            continue;
        }
        const QString part = filter->filterString();
        if (!part.isEmpty()) {
            parts << part;
        }
    }
    emit filterString(parts.join(QStringLiteral(" AND ")));
}

void FilterWidget::onXClicked(int)
{
    hideWhenEmpty();
    filterChanged();
}

void FilterWidget::hideWhenEmpty()
{
    const QVector<bool> shown = shownFilters();
    setVisible(shown.contains(true));
}
