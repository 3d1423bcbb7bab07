#include "ui/log/feedcolumnwidths.h"

#include <QEvent>
#include <QHeaderView>
#include <QSettings>
#include <QVariantMap>

namespace {
const QString Key = QStringLiteral("DataFeed/columnWidths");
} // namespace

FeedColumnWidths::FeedColumnWidths(QHeaderView* header) : QObject(header), m_header(header)
{
    const QVariantMap stored = QSettings().value(Key).toMap();
    for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
        bool columnOk = false;
        bool widthOk = false;
        const int column = it.key().toInt(&columnOk);
        const int width = it.value().toInt(&widthOk);
        if (columnOk && widthOk && column >= 0 && column < header->count() && width > 0 &&
            header->sectionResizeMode(column) == QHeaderView::Interactive) {
            m_widths.insert(column, width);
            header->resizeSection(column, width);
        }
    }
    header->viewport()->installEventFilter(this);
    connect(header, &QHeaderView::sectionResized, this, &FeedColumnWidths::onSectionResized);
}

bool FeedColumnWidths::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        m_pressed = true;
        break;
    case QEvent::MouseButtonRelease:
        m_pressed = false;
        if (m_changed) {
            m_changed = false;
            store();
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void FeedColumnWidths::onSectionResized(int column, int, int newSize)
{
    // A hidden column has no width of its own.
    if (!m_pressed || newSize <= 0 || m_header->sectionResizeMode(column) != QHeaderView::Interactive) {
        return;
    }
    m_widths.insert(column, newSize);
    m_changed = true;
}

void FeedColumnWidths::store() const
{
    QVariantMap widths;
    for (auto it = m_widths.cbegin(); it != m_widths.cend(); ++it) {
        widths.insert(QString::number(it.key()), it.value());
    }
    QSettings().setValue(Key, widths);
}
