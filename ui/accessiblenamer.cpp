#include "ui/accessiblenamer.h"

#include "ui/clickableframe.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QTextDocument>
#include <QTextDocumentFragment>

namespace {

// The label that stands before widget in its parent's layout: to its left in a grid, else the item
// before it.
QLabel* labelBefore(QWidget* widget)
{
    QWidget* parent = widget->parentWidget();
    QLayout* layout = parent ? parent->layout() : nullptr;
    if (!layout) {
        return nullptr;
    }
    // The layout that holds the widget may be nested in the parent's.
    QList<QLayout*> layouts{layout};
    for (int l = 0; l < layouts.size(); ++l) {
        QLayout* current = layouts.at(l);
        const int index = current->indexOf(widget);
        if (index < 0) {
            for (int i = 0; i < current->count(); ++i) {
                if (QLayout* inner = current->itemAt(i)->layout()) {
                    layouts << inner;
                }
            }
            continue;
        }
        QLayoutItem* before = nullptr;
        if (auto* grid = qobject_cast<QGridLayout*>(current)) {
            int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
            grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
            before = column > 0 ? grid->itemAtPosition(row, column - 1) : nullptr;
            // A box with its caption underneath, as the hotkeys have.
            if (!before || !qobject_cast<QLabel*>(before->widget())) {
                before = grid->itemAtPosition(row + rowSpan, column);
            }
        } else if (index > 0) {
            before = current->itemAt(index - 1);
        }
        return before ? qobject_cast<QLabel*>(before->widget()) : nullptr;
    }
    return nullptr;
}

QString nameOf(QWidget* widget)
{
    if (auto* frame = qobject_cast<ClickableFrame*>(widget)) {
        QStringList words;
        const QList<QLabel*> labels = frame->findChildren<QLabel*>();
        for (const QLabel* label : labels) {
            if (!label->isHidden() || labels.size() == 1) {
                words << AccessibleNamer::spoken(label->text());
            }
        }
        words.removeAll(QString());
        return words.join(QLatin1Char(' '));
    }
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        const QString text = AccessibleNamer::spoken(button->text());
        return text.isEmpty() ? AccessibleNamer::spoken(button->toolTip()) : text;
    }
    const bool entry = qobject_cast<QLineEdit*>(widget) || qobject_cast<QAbstractSpinBox*>(widget) ||
                       qobject_cast<QComboBox*>(widget) ||
                       (qobject_cast<QAbstractScrollArea*>(widget) && !qobject_cast<QScrollArea*>(widget));
    if (!entry || qobject_cast<QLineEdit*>(widget->parentWidget()) ||
        qobject_cast<QAbstractSpinBox*>(widget->parentWidget()) ||
        qobject_cast<QComboBox*>(widget->parentWidget())) {
        return QString();
    }
    if (const QLabel* label = labelBefore(widget)) {
        return AccessibleNamer::spoken(label->text());
    }
    if (const auto* line = qobject_cast<QLineEdit*>(widget); line && !line->placeholderText().isEmpty()) {
        return AccessibleNamer::spoken(line->placeholderText());
    }
    if (!widget->toolTip().isEmpty()) {
        return AccessibleNamer::spoken(widget->toolTip());
    }
    for (const QWidget* w = widget->parentWidget(); w && !w->isWindow(); w = w->parentWidget()) {
        if (const auto* group = qobject_cast<const QGroupBox*>(w)) {
            return AccessibleNamer::spoken(group->title());
        }
    }
    return QString();
}

} // namespace

void AccessibleNamer::install()
{
    static bool installed = false;
    if (installed || !qApp) {
        return;
    }
    installed = true;
    qApp->installEventFilter(new AccessibleNamer(qApp));
}

bool AccessibleNamer::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->isWindow()) {
        nameControls(static_cast<QWidget*>(watched));
    }
    return false;
}

void AccessibleNamer::nameControls(QWidget* root)
{
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    // Buddies first: a label that names its control says so itself.
    for (QWidget* widget : qAsConst(widgets)) {
        const auto* label = qobject_cast<QLabel*>(widget);
        if (label && label->buddy() && label->buddy()->accessibleName().isEmpty()) {
            label->buddy()->setAccessibleName(spoken(label->text()));
        }
    }
    for (QWidget* widget : qAsConst(widgets)) {
        if (widget->accessibleName().isEmpty()) {
            const QString name = nameOf(widget);
            if (!name.isEmpty()) {
                widget->setAccessibleName(name);
            }
        }
    }
}

QString AccessibleNamer::spoken(const QString& text)
{
    QString plain = Qt::mightBeRichText(text) ? QTextDocumentFragment::fromHtml(text).toPlainText() : text;
    // "&&" is a shown ampersand, a single "&" marks the mnemonic.
    plain.replace(QLatin1String("&&"), QLatin1String("\x01")).remove(QLatin1Char('&'));
    plain.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    plain = plain.simplified();
    while (plain.endsWith(QLatin1Char(':'))) {
        plain.chop(1);
    }
    return plain.trimmed();
}
