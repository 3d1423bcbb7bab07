#include "ui/clickableframe.h"
#include "ui/ipline.h"
#include "ui/pelmabstractdialog.h"
#include "ui/pelmitems.h"
#include "ui/pelmmodelview.h"
#include "ui/pelmmodelviewcheckable.h"
#include "ui/pelmprogressdialog.h"
#include "ui/resizablelabel.h"
#include "ui/switch.h"
#include "ui/widgethider.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QtTest>

#include <functional>

using ItemFactory = std::function<PelmAbstractItem*()>;
Q_DECLARE_METATYPE(ItemFactory)

namespace {
// A dialog item's editor in its simplest form: one line of text.
class TextDialog : public PelmAbstractDialog
{
public:
    explicit TextDialog(QWidget* parent) : PelmAbstractDialog(parent), line(new QLineEdit(this)) {}
    QVariant value() const override { return line->text(); }
    void setValue(const QVariant& value) override { line->setText(value.toString()); }
    QLineEdit* line;
};

// Opens a cell's editor the way a user does: a click selects, a double click edits.
void doubleClickCell(PelmModelView& view, const QModelIndex& index)
{
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(index).center());
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(index).center());
}
} // namespace

class TstWidgetKit : public QObject
{
    Q_OBJECT

private slots:
    void progressDialogIsClosedOnlyByItsOwner()
    {
        PelmProgressDialog dialog(QStringLiteral("Connecting..."));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(dialog.isVisible());
        dialog.close();
        QVERIFY(!dialog.isVisible());
    }
    void clickableFramePressedLook()
    {
        ClickableFrame frame;
        // A property selector takes effect only when the style is applied again.
        frame.setStyleSheet(QStringLiteral("ClickableFrame[pressed=\"true\"] { background: #ff0000; }"
                                           "ClickableFrame[pressed=\"false\"] { background: #00ff00; }"));
        frame.resize(100, 60);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        const auto colour = [&frame] { return frame.grab().toImage().pixelColor(50, 30); };
        QSignalSpy clicked(&frame, &ClickableFrame::clicked);
        QCOMPARE(colour(), QColor(0, 255, 0));
        QTest::mousePress(&frame, Qt::LeftButton);
        QCOMPARE(colour(), QColor(255, 0, 0));
        QCOMPARE(clicked.count(), 0);
        QTest::mouseRelease(&frame, Qt::LeftButton);
        QCOMPARE(colour(), QColor(0, 255, 0));
        QCOMPARE(clicked.count(), 1);
    }
    void resizableLabelPointSize()
    {
        ResizableLabel label;
        label.setText(QStringLiteral("123.45 g"));
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));
        // Widths and heights that divide exactly catch a quotient truncated one point low; the smaller of
        // the width's and the height's terms wins.
        const QList<QPair<QSize, int>> steps{
            {{880, 240}, 100}, {{440, 240}, 50}, {{880, 120}, 50}, {{3520, 240}, 100}, {{1760, 240}, 100}};
        for (const auto& step : steps) {
            label.resize(step.first);
            QCOMPARE(label.font().pointSize(), step.second);
        }
    }
    void widgetHider()
    {
        QWidget parent;
        auto* a = new QWidget(&parent);
        auto* b = new QWidget(&parent);
        auto* c = new QWidget(&parent);
        WidgetHider hider({a, b, c});
        parent.show();
        hider.setHidden(true);
        QVERIFY(a->isHidden() && b->isHidden() && c->isHidden());
        // Each flips on its own.
        b->show();
        hider.swap();
        QVERIFY(!a->isHidden() && b->isHidden() && !c->isHidden());
        // A widget destroyed before the hider is simply left out.
        delete b;
        hider.swap();
        QVERIFY(a->isHidden() && c->isHidden());
        QCOMPARE(hider.widgets().size(), 2);
    }
    void switchFollowsTheLastToggle()
    {
        Switch sw(QStringLiteral("Auto send"));
        sw.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sw));
        QSignalSpy states(&sw, &SelectionControl::stateChanged);
        QTest::mouseClick(&sw, Qt::LeftButton);
        QCOMPARE(states.count(), 1);
        QCOMPARE(states.at(0).at(0).toInt(), int(Qt::Checked));
        QTRY_COMPARE(sw.position(), 1.0);
        // Toggled off and back on before the thumb arrives, it still ends where the last toggle points.
        QTest::mouseClick(&sw, Qt::LeftButton);
        QTest::mouseClick(&sw, Qt::LeftButton);
        QCOMPARE(states.at(1).at(0).toInt(), int(Qt::Unchecked));
        QCOMPARE(sw.checkState(), Qt::Checked);
        QTRY_COMPARE(sw.position(), 1.0);
        sw.setEnabled(false);
        QTest::mouseClick(&sw, Qt::LeftButton);
        QCOMPARE(states.count(), 3);
    }
    void ipAddress()
    {
        QWidget window;
        auto* other = new QLineEdit(&window);
        auto* line = new IPLine(&window);
        line->move(0, 40);
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        // Three digits a group, letters refused, extra digits dropped.
        QTest::keyClicks(line, QStringLiteral("1a92168001010999"));
        QCOMPARE(line->text(), QStringLiteral("192.168.001.010"));
        // Clicked into, the cursor goes to the first group.
        other->setFocus();
        QTest::mouseClick(line, Qt::LeftButton, {}, QPoint(line->width() - 5, line->height() / 2));
        QVERIFY(line->hasFocus());
        QTRY_COMPARE(line->cursorPosition(), 0);

        for (const char* valid : {"0.0.0.0", "255.255.255.255", "249.250.199.100", "001.02.3.4"}) {
            QVERIFY2(PelmIPLineItem::isValidAddress(QLatin1String(valid)), valid);
        }
        for (const char* invalid :
             {"256.1.1.1", "1.2.3.256", "1.260.3.4", "1.2.3", "1.2.3.4.5", "...", "a.b.c.d", " 1.2.3.4"}) {
            QVERIFY2(!PelmIPLineItem::isValidAddress(QLatin1String(invalid)), invalid);
        }
    }
    void items_data()
    {
        // The text shown, then what is typed into the editor a double click opens (none for a cell that
        // cannot be edited; Down for a choice) and the value after it.
        QTest::addColumn<ItemFactory>("make");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QVariant>("value");

        const auto row = [](const char* name, const char* text, const char* typed, QVariant value,
                            ItemFactory make) {
            QTest::newRow(name) << make << QString::fromUtf8(text) << QString::fromUtf8(typed) << value;
        };
        const char* none = "Not specified";
        const QStringList modes{QStringLiteral("Static"), QStringLiteral("Dynamic")};
        row("line", "old", "WLC 2/A2", "WLC 2/A2", [] { return new PelmLineItem("Model", "old"); });
        row("unchanged line", "same", "same", "same", [] { return new PelmLineItem("Model", "same"); });
        row("empty line is a value", "", "abc", "abc", [] { return new PelmLineItem("Model", QString("")); });
        row("line without value", none, nullptr, QVariant(), [] { return new PelmLineItem("Model"); });
        row("read-only line", "x", nullptr, "x", [] { return new PelmLineItem("Model", "x", false); });
        row("title", "Network", nullptr, QVariant(), [] { return new PelmTitleItem("Network"); });
        row("integer", "4001", "502", 502, [] { return new PelmNumericItem("Port", 4001); });
        row("decimals", "12.50", "", 12.5, [] { return new PelmNumericItem("Tare", 12.5, 2); });
        row("not a number", none, nullptr, QVariant(), [] { return new PelmNumericItem("Port", "abc"); });
        row("choice", "Static", "Down", "Dynamic", [modes] { return new PelmNominalItem("Mode", modes, 0); });
        row("choice out of range", none, nullptr, QVariant(),
            [modes] { return new PelmNominalItem("Mode", modes, 2); });
        row("date", "2024-03-07", "", QDate(2024, 3, 7),
            [] { return new PelmDateItem("Date", QDate(2024, 3, 7)); });
        row("time", "13:05:09", "", QTime(13, 5, 9),
            [] { return new PelmTimeItem("Time", QTime(13, 5, 9)); });
        row("duration", "1h 5min 30sec", "", QTime(1, 5, 30),
            [] { return new PelmDayTimeItem("Interval", QTime(1, 5, 30)); });
        row("address", "", "10.0.0.7", "10.0.0.7", [] { return new PelmIPLineItem("IP", QString("")); });
        row("address with 256 refused", "10.0.0.1", "10.0.0.256", "10.0.0.1",
            [] { return new PelmIPLineItem("IP", "10.0.0.1"); });
        row("file path", "", "/tmp/scale.s19", "/tmp/scale.s19",
            [] { return new PelmFileItem("Firmware", QString("")); });
    }
    void items()
    {
        QFETCH(ItemFactory, make);
        QFETCH(QString, text);
        QFETCH(QString, typed);
        QFETCH(QVariant, value);

        PelmModelView view;
        view.resize(400, 200);
        PelmAbstractItem* item = make();
        view.addItem(item);
        view.show();
        QApplication::setActiveWindow(&view);
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QCOMPARE(item->index().data(Qt::DisplayRole).toString(), text);
        const QVariant before = item->value();
        QSignalSpy changed(&view, &PelmModelView::parameterChanged);

        // What the flags promise is what a double click does.
        QCOMPARE(bool(item->flags() & Qt::ItemIsEditable), !typed.isNull());
        doubleClickCell(view, item->index());
        QWidget* editor = view.indexWidget(item->index());
        QCOMPARE(editor != nullptr, !typed.isNull());
        if (auto* combo = qobject_cast<QComboBox*>(editor)) {
            QTest::keyClick(combo, Qt::Key_Down);
        } else if (editor) {
            auto* spin = qobject_cast<QAbstractSpinBox*>(editor);
            auto* line = spin ? spin->findChild<QLineEdit*>() : qobject_cast<QLineEdit*>(editor);
            QVERIFY(line != nullptr);
            line->selectAll();
            QTest::keyClicks(line, typed);
            QTest::keyClick(line, Qt::Key_Return);
        }
        QTRY_VERIFY(!view.isEditing());
        QCOMPARE(item->value(), value);
        QCOMPARE(item->value().userType(), value.userType());
        // Reported once when the value changed, with the item's name.
        const QList<QVariantList> reports = changed;
        QCOMPARE(reports,
                 (before == value ? QList<QVariantList>() : QList<QVariantList>{{item->name(), value}}));
    }
    void dialogItemEditsThroughItsDialog()
    {
        PelmModelView view;
        view.resize(400, 200);
        view.addItem(new PelmLineItem(QStringLiteral("Model"), QStringLiteral("WLC")));
        auto* item = new PelmDialogItem(QStringLiteral("Users"), QStringLiteral("3 users"),
                                        [](QWidget* parent) { return new TextDialog(parent); });
        view.addItem(item);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QSignalSpy changed(&view, &PelmModelView::parameterChanged);

        for (const bool accept : {false, true}) {
            doubleClickCell(view, item->index());
            auto* dialog = dynamic_cast<TextDialog*>(view.indexWidget(item->index()));
            QVERIFY(dialog != nullptr);
            QTRY_VERIFY(dialog->isVisible());
            QCOMPARE(dialog->line->text(), QStringLiteral("3 users"));
            dialog->line->setText(QStringLiteral("4 users"));
            accept ? dialog->accept() : dialog->reject();
            QTRY_VERIFY(!view.isEditing());
            QCOMPARE(changed.count(), accept ? 1 : 0);
            QCOMPARE(item->value().toString(), QLatin1String(accept ? "4 users" : "3 users"));
        }
        QCOMPARE(changed.at(0).at(0).toString(), QStringLiteral("Users"));
    }
    void programChangesAndChecks()
    {
        PelmModelViewCheckable view;
        auto* item = new PelmIPLineItem(QStringLiteral("IP Address"));
        view.addItem(item);
        view.addItem(new PelmNumericItem(QStringLiteral("Port"), 4001));
        QSignalSpy changed(&view, &PelmModelView::parameterChanged);
        QSignalSpy checked(&view, &PelmModelViewCheckable::parameterChecked);

        // Filling a cell that had no value also makes it editable; that is one change, reported once.
        item->setValue(QStringLiteral("192.168.1.2"));
        QCOMPARE(changed.count(), 1);
        QVERIFY(item->flags() & Qt::ItemIsEditable);
        item->setEnabled(false);
        item->setEditable(false);
        item->setBackground(Qt::red);
        item->setValue(QStringLiteral("192.168.1.2"));
        QCOMPARE(changed.count(), 1);
        item->setValue(QVariant());
        QCOMPARE(changed.count(), 2);
        QCOMPARE(item->text(), QStringLiteral("Not specified"));

        // A checked name is no value change.
        view.itemModel()->item(1, 0)->setCheckState(Qt::Checked);
        QCOMPARE(checked, (QList<QVariantList>{{QStringLiteral("Port"), true}}));
        QCOMPARE(view.checkedNames(), QStringList{QStringLiteral("Port")});
        QCOMPARE(changed.count(), 2);
    }
};

QTEST_MAIN(TstWidgetKit)
#include "tst_widgetkit.moc"
