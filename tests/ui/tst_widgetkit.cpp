#include "ui/animator.h"
#include "ui/clickableframe.h"
#include "ui/confirmationdialog.h"
#include "ui/ipline.h"
#include "ui/pelmabstractdialog.h"
#include "ui/pelmitems.h"
#include "ui/pelmmodelview.h"
#include "ui/pelmmodelviewcheckable.h"
#include "ui/pelmprogressdialog.h"
#include "ui/resizablelabel.h"
#include "ui/switch.h"
#include "ui/widgethider.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTimer>
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

QPoint centreOf(const QAbstractItemView& view, const QModelIndex& index)
{
    return view.visualRect(index).center();
}

// Opens a cell's editor the way a user does: a click selects, a double click edits.
void doubleClickCell(PelmModelView& view, const QModelIndex& index)
{
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, centreOf(view, index));
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, centreOf(view, index));
}
} // namespace

class TstWidgetKit : public QObject
{
    Q_OBJECT

private slots:
    void confirmationDialog_data();
    void confirmationDialog();
    void progressDialogIsClosedOnlyByItsOwner();
    void clickableFrameSignals();
    void resizableLabelPointSize_data();
    void resizableLabelPointSize();
    void widgetHider();
    void switchToggles();
    void animatorKeepsTargetWhileRunning();
    void ipLineMask_data();
    void ipLineMask();
    void ipLineCursorToStartOnFocus();
    void ipAddressValidation_data();
    void ipAddressValidation();
    void itemTexts_data();
    void itemTexts();
    void editingReportsParameterChanged_data();
    void editingReportsParameterChanged();
    void programChangesOtherThanValueAreNotReported();
    void rowShades();
    void dialogItemEditsThroughItsDialog();
    void checkableViewReportsChecks();
};

void TstWidgetKit::confirmationDialog_data()
{
    QTest::addColumn<QString>("confirmText");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("visibleButtons");
    QTest::addColumn<int>("result");

    QTest::newRow("notice") << QString() << "cancelButton" << 1 << int(QDialog::Rejected);
    QTest::newRow("question, cancelled") << "Disconnect"
                                         << "cancelButton" << 2 << int(QDialog::Rejected);
    QTest::newRow("question, confirmed") << "Disconnect"
                                         << "confirmButton" << 2 << 1;
}

void TstWidgetKit::confirmationDialog()
{
    QFETCH(QString, confirmText);
    QFETCH(QString, button);
    QFETCH(int, visibleButtons);
    QFETCH(int, result);

    ConfirmationDialog dialog(QStringLiteral("Disconnect the instrument?"), QStringLiteral("Cancel"),
                              confirmText);
    QVERIFY(dialog.isModal());
    QVERIFY(dialog.windowFlags().testFlag(Qt::FramelessWindowHint));

    int shownButtons = -1;
    QTimer::singleShot(0, &dialog, [&] {
        const auto buttons = dialog.findChildren<QPushButton*>();
        shownButtons =
            int(std::count_if(buttons.begin(), buttons.end(), [](auto* b) { return b->isVisible(); }));
        auto* target = dialog.findChild<QPushButton*>(button);
        QTest::mouseClick(target, Qt::LeftButton);
    });
    // A dialog left open would block exec() for good; end it with a result no button gives.
    QTimer::singleShot(5000, &dialog, [&] { dialog.done(-1); });

    QCOMPARE(dialog.exec(), result);
    QCOMPARE(shownButtons, visibleButtons);
}

void TstWidgetKit::progressDialogIsClosedOnlyByItsOwner()
{
    PelmProgressDialog dialog(QStringLiteral("Connecting..."));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(dialog.isVisible());
    dialog.close();
    QVERIFY(!dialog.isVisible());
}

void TstWidgetKit::clickableFrameSignals()
{
    ClickableFrame frame;
    // Proves the re-polish: a property selector only takes effect when the style is applied again.
    frame.setStyleSheet(QStringLiteral("ClickableFrame[pressed=\"true\"] { background: #ff0000; }"
                                       "ClickableFrame[pressed=\"false\"] { background: #00ff00; }"));
    frame.resize(100, 60);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    const auto colour = [&frame] { return frame.grab().toImage().pixelColor(50, 30); };

    QSignalSpy clicked(&frame, &ClickableFrame::clicked);
    QSignalSpy hoverIn(&frame, &ClickableFrame::hoverIn);
    QSignalSpy hoverOut(&frame, &ClickableFrame::hoverOut);
    QSignalSpy resized(&frame, &ClickableFrame::resized);

    QCOMPARE(frame.property("pressed").toBool(), false);
    QCOMPARE(colour(), QColor(0, 255, 0));
    QTest::mousePress(&frame, Qt::LeftButton);
    QCOMPARE(frame.property("pressed").toBool(), true);
    QCOMPARE(colour(), QColor(255, 0, 0));
    QCOMPARE(clicked.count(), 0);
    QTest::mouseRelease(&frame, Qt::LeftButton);
    QCOMPARE(frame.property("pressed").toBool(), false);
    QCOMPARE(colour(), QColor(0, 255, 0));
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(clicked.at(0).at(0).toBool(), false);

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), frame.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&frame, &enter);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&frame, &leave);
    QCOMPARE(hoverIn.count(), 1);
    QCOMPARE(hoverOut.count(), 1);

    resized.clear();
    frame.resize(200, 80);
    QCOMPARE(resized.count(), 1);
}

void TstWidgetKit::resizableLabelPointSize_data()
{
    QTest::addColumn<QSize>("first");
    QTest::addColumn<int>("firstPoints");
    QTest::addColumn<QSize>("second");
    QTest::addColumn<int>("secondPoints");

    // Widths and heights that divide exactly catch a quotient truncated one point low.
    QTest::newRow("width halved") << QSize(880, 240) << 100 << QSize(440, 240) << 50;
    QTest::newRow("height term smaller, width halved") << QSize(3520, 240) << 100 << QSize(1760, 240) << 100;
    QTest::newRow("height halved") << QSize(880, 240) << 100 << QSize(880, 120) << 50;
    QTest::newRow("fractions truncated") << QSize(100, 100) << 11 << QSize(50, 100) << 5;
    QTest::newRow("small exact") << QSize(88, 24) << 10 << QSize(44, 24) << 5;
}

void TstWidgetKit::resizableLabelPointSize()
{
    QFETCH(QSize, first);
    QFETCH(int, firstPoints);
    QFETCH(QSize, second);
    QFETCH(int, secondPoints);

    ResizableLabel label;
    label.setText(QStringLiteral("123.45 g"));
    label.show();
    QVERIFY(QTest::qWaitForWindowExposed(&label));
    label.resize(first);
    QCOMPARE(label.font().pointSize(), firstPoints);
    label.resize(second);
    QCOMPARE(label.font().pointSize(), secondPoints);
}

void TstWidgetKit::widgetHider()
{
    QWidget parent;
    auto* a = new QWidget(&parent);
    auto* b = new QWidget(&parent);
    auto* c = new QWidget(&parent);
    WidgetHider hider({a, b, c});
    parent.show();

    hider.setHidden(true);
    QVERIFY(a->isHidden() && b->isHidden() && c->isHidden());
    hider.setHidden(false);
    QVERIFY(!a->isHidden() && !b->isHidden() && !c->isHidden());

    b->hide();
    hider.swap();
    QVERIFY(a->isHidden() && !b->isHidden() && c->isHidden());

    // A widget destroyed before the hider is simply left out.
    delete b;
    hider.swap();
    QVERIFY(!a->isHidden() && !c->isHidden());
    QCOMPARE(hider.widgets().size(), 2);
}

void TstWidgetKit::switchToggles()
{
    Switch sw(QStringLiteral("Auto send"));
    sw.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sw));
    QSignalSpy states(&sw, &SelectionControl::stateChanged);

    QTest::mouseClick(&sw, Qt::LeftButton);
    QCOMPARE(states.count(), 1);
    QCOMPARE(states.at(0).at(0).toInt(), int(Qt::Checked));
    QVERIFY(sw.isChecked());
    QTRY_COMPARE(sw.position(), 1.0);
    QTRY_COMPARE(sw.thumbColor(), QColor(QStringLiteral("#6fc420")));

    QTest::mouseClick(&sw, Qt::LeftButton);
    QCOMPARE(states.count(), 2);
    QCOMPARE(states.at(1).at(0).toInt(), int(Qt::Unchecked));
    QTRY_COMPARE(sw.position(), 0.0);
    QTRY_COMPARE(sw.thumbColor(), QColor(QStringLiteral("#fafafa")));

    // Toggling back before the thumb arrives still ends where the last toggle points.
    QTest::mouseClick(&sw, Qt::LeftButton);
    QTest::mouseClick(&sw, Qt::LeftButton);
    QCOMPARE(sw.checkState(), Qt::Unchecked);
    QTRY_COMPARE(sw.position(), 0.0);

    sw.setEnabled(false);
    QTest::mouseClick(&sw, Qt::LeftButton);
    QCOMPARE(states.count(), 4);
    QCOMPARE(sw.thumbColor(), QColor(QStringLiteral("#bdbdbd")));
}

void TstWidgetKit::animatorKeepsTargetWhileRunning()
{
    Switch first;
    Switch second;
    Animator animator(&first, "position");
    animator.setup(10000, QEasingCurve::Linear);
    animator.interpolate(0.0, 1.0);
    QCOMPARE(animator.state(), QAbstractAnimation::Running);

    QTest::ignoreMessage(QtWarningMsg,
                         "Animation::setTargetObject: you can't change the target of a running animation");
    animator.setTargetObject(&second);
    QCOMPARE(animator.targetObject(), &first);

    animator.stop();
    animator.setTargetObject(&second);
    QCOMPARE(animator.targetObject(), &second);
    animator.jumpTo(0.5);
    QCOMPARE(second.position(), 0.5);
    QCOMPARE(first.position(), 0.0);
}

void TstWidgetKit::ipLineMask_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("text");

    QTest::newRow("full groups") << "192168001010"
                                 << "192.168.001.010";
    QTest::newRow("dots jump to the next group") << "10.0.0.7"
                                                 << "10.0.0.7";
    QTest::newRow("letters refused") << "1a2b.3"
                                     << "12.3..";
    QTest::newRow("extra digits dropped") << "1234567890123456"
                                          << "123.456.789.012";
}

void TstWidgetKit::ipLineMask()
{
    QFETCH(QString, typed);
    QFETCH(QString, text);

    IPLine line;
    line.show();
    QVERIFY(QTest::qWaitForWindowExposed(&line));
    QTest::keyClicks(&line, typed);
    QCOMPARE(line.text(), text);
}

void TstWidgetKit::ipLineCursorToStartOnFocus()
{
    QWidget window;
    auto* other = new QLineEdit(&window);
    auto* line = new IPLine(&window);
    line->move(0, 40);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    other->setFocus();
    line->setText(QStringLiteral("10.0.0.7"));
    line->setCursorPosition(8);

    QTest::mouseClick(line, Qt::LeftButton, {}, QPoint(line->width() - 5, line->height() / 2));
    QVERIFY(line->hasFocus());
    QTRY_COMPARE(line->cursorPosition(), 0);
}

void TstWidgetKit::ipAddressValidation_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");

    QTest::newRow("private") << "192.168.1.1" << true;
    QTest::newRow("lowest") << "0.0.0.0" << true;
    QTest::newRow("highest") << "255.255.255.255" << true;
    QTest::newRow("200s") << "249.250.199.100" << true;
    QTest::newRow("leading zeros") << "001.02.3.4" << true;
    QTest::newRow("256 first") << "256.1.1.1" << false;
    QTest::newRow("256 last") << "1.2.3.256" << false;
    QTest::newRow("260") << "1.260.3.4" << false;
    QTest::newRow("three groups") << "1.2.3" << false;
    QTest::newRow("five groups") << "1.2.3.4.5" << false;
    QTest::newRow("empty mask") << "..." << false;
    QTest::newRow("letters") << "a.b.c.d" << false;
    QTest::newRow("space") << " 1.2.3.4" << false;
}

void TstWidgetKit::ipAddressValidation()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(PelmIPLineItem::isValidAddress(text), valid);
}

void TstWidgetKit::itemTexts_data()
{
    QTest::addColumn<ItemFactory>("make");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("editable");

    const QString none = QStringLiteral("Not specified");
    const QStringList modes{QStringLiteral("Static"), QStringLiteral("Dynamic")};
    QTest::newRow("line") << ItemFactory([] { return new PelmLineItem("Model", "WLC 2"); }) << "WLC 2"
                          << true;
    QTest::newRow("empty line is a value")
        << ItemFactory([] { return new PelmLineItem("Model", QString("")); }) << "" << true;
    QTest::newRow("line without value")
        << ItemFactory([] { return new PelmLineItem("Model"); }) << none << false;
    QTest::newRow("read-only line") << ItemFactory([] { return new PelmLineItem("Model", "x", false); })
                                    << "x" << false;
    QTest::newRow("title") << ItemFactory([] { return new PelmTitleItem("Network"); }) << "Network" << false;
    QTest::newRow("integer") << ItemFactory([] { return new PelmNumericItem("Port", 4001); }) << "4001"
                             << true;
    QTest::newRow("decimals") << ItemFactory([] { return new PelmNumericItem("Tare", 12.5, 2); }) << "12.50"
                              << true;
    QTest::newRow("not a number") << ItemFactory([] { return new PelmNumericItem("Port", "abc"); }) << none
                                  << false;
    QTest::newRow("choice") << ItemFactory([modes] { return new PelmNominalItem("Mode", modes, 1); })
                            << "Dynamic" << true;
    QTest::newRow("choice out of range")
        << ItemFactory([modes] { return new PelmNominalItem("Mode", modes, 2); }) << none << false;
    QTest::newRow("date") << ItemFactory([] { return new PelmDateItem("Date", QDate(2024, 3, 7)); })
                          << "2024-03-07" << true;
    QTest::newRow("invalid date") << ItemFactory([] { return new PelmDateItem("Date", QDate()); }) << none
                                  << false;
    QTest::newRow("time") << ItemFactory([] { return new PelmTimeItem("Time", QTime(13, 5, 9)); })
                          << "13:05:09" << true;
    QTest::newRow("duration") << ItemFactory([] { return new PelmDayTimeItem("Interval", QTime(1, 5, 30)); })
                              << "1h 5min 30sec" << true;
    QTest::newRow("short duration") << ItemFactory([] {
        return new PelmDayTimeItem("Interval", QTime(0, 0, 7));
    }) << "0h 0min 7sec" << true;
    QTest::newRow("address range kept as given")
        << ItemFactory([] { return new PelmIPLineItem("IP", "192.168.1.1 - 192.168.1.254", false); })
        << "192.168.1.1 - 192.168.1.254" << false;
    QTest::newRow("file without value")
        << ItemFactory([] { return new PelmFileItem("Firmware"); }) << none << false;
}

void TstWidgetKit::itemTexts()
{
    QFETCH(ItemFactory, make);
    QFETCH(QString, text);
    QFETCH(bool, editable);

    PelmModelView view;
    view.resize(400, 200);
    PelmAbstractItem* item = make();
    view.addItem(item);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    const QModelIndex index = item->index();
    QCOMPARE(index.data(Qt::DisplayRole).toString(), text);
    QCOMPARE(bool(index.flags() & Qt::ItemIsEditable), editable);

    // What the flags promise is what a double click does.
    doubleClickCell(view, index);
    QCOMPARE(view.isEditing(), editable);
    QCOMPARE(view.indexWidget(index) != nullptr, editable);
}

void TstWidgetKit::editingReportsParameterChanged_data()
{
    QTest::addColumn<ItemFactory>("make");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("reported");
    QTest::addColumn<QVariant>("value");

    const QStringList modes{QStringLiteral("Static"), QStringLiteral("Dynamic")};
    QTest::newRow("line") << ItemFactory([] { return new PelmLineItem("Model", "old"); }) << "WLC 2/A2"
                          << true << QVariant(QStringLiteral("WLC 2/A2"));
    QTest::newRow("empty line") << ItemFactory([] { return new PelmLineItem("Model", QString("")); }) << "abc"
                                << true << QVariant(QStringLiteral("abc"));
    QTest::newRow("unchanged line") << ItemFactory([] { return new PelmLineItem("Model", "same"); }) << "same"
                                    << false << QVariant(QStringLiteral("same"));
    QTest::newRow("integer") << ItemFactory([] { return new PelmNumericItem("Port", 4001); }) << "502" << true
                             << QVariant(502);
    QTest::newRow("address") << ItemFactory([] { return new PelmIPLineItem("IP", QString("")); })
                             << "10.0.0.7" << true << QVariant(QStringLiteral("10.0.0.7"));
    QTest::newRow("address with 256 refused")
        << ItemFactory([] { return new PelmIPLineItem("IP", "10.0.0.1"); }) << "10.0.0.256" << false
        << QVariant(QStringLiteral("10.0.0.1"));
    QTest::newRow("file path") << ItemFactory([] { return new PelmFileItem("Firmware", QString("")); })
                               << "/tmp/scale.s19" << true << QVariant(QStringLiteral("/tmp/scale.s19"));
    // The choice is made with the arrow key; the value is the chosen text.
    QTest::newRow("choice") << ItemFactory([modes] { return new PelmNominalItem("Mode", modes, 0); })
                            << QString() << true << QVariant(QStringLiteral("Dynamic"));
}

void TstWidgetKit::editingReportsParameterChanged()
{
    QFETCH(ItemFactory, make);
    QFETCH(QString, typed);
    QFETCH(bool, reported);
    QFETCH(QVariant, value);

    PelmModelView view;
    view.resize(400, 200);
    view.addItem(new PelmTitleItem(QStringLiteral("Instrument")));
    PelmAbstractItem* item = make();
    view.addItem(item);
    view.show();
    QApplication::setActiveWindow(&view);
    QVERIFY(QTest::qWaitForWindowActive(&view));
    QSignalSpy changed(&view, &PelmModelView::parameterChanged);

    doubleClickCell(view, item->index());
    QWidget* editor = view.indexWidget(item->index());
    QVERIFY(editor != nullptr);
    if (auto* combo = qobject_cast<QComboBox*>(editor)) {
        QTest::keyClick(combo, Qt::Key_Down);
    } else {
        auto* line = qobject_cast<QLineEdit*>(editor);
        if (auto* spin = qobject_cast<QDoubleSpinBox*>(editor)) {
            line = spin->findChild<QLineEdit*>();
        }
        QVERIFY(line != nullptr);
        line->selectAll();
        QTest::keyClicks(line, typed);
        QTest::keyClick(line, Qt::Key_Return);
    }
    QTRY_VERIFY(!view.isEditing());

    QCOMPARE(changed.count(), reported ? 1 : 0);
    if (reported) {
        QCOMPARE(changed.at(0).at(0).toString(), item->name());
        QCOMPARE(changed.at(0).at(1), value);
    }
    QCOMPARE(item->value(), value);
    QCOMPARE(item->value().userType(), value.userType());
}

void TstWidgetKit::programChangesOtherThanValueAreNotReported()
{
    PelmModelView view;
    auto* item = new PelmIPLineItem(QStringLiteral("IP Address"));
    view.addItem(item);
    QSignalSpy changed(&view, &PelmModelView::parameterChanged);

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
}

void TstWidgetKit::rowShades()
{
    PelmModelView view;
    view.addItem(new PelmLineItem(QStringLiteral("Model"), QStringLiteral("WLC")));
    view.addItem(new PelmTitleItem(QStringLiteral("Network")));
    view.addItem(new PelmLineItem(QStringLiteral("Name"), QStringLiteral("scale")));
    const QStandardItemModel* model = view.itemModel();

    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Name"));
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Value"));
    for (int column = 0; column < 2; ++column) {
        QCOMPARE(model->index(0, column).data(Qt::BackgroundRole).value<QBrush>().color(),
                 QColor(QStringLiteral("lightgray")));
        QVERIFY(!model->index(2, column).data(Qt::BackgroundRole).isValid());
    }
    QCOMPARE(view.columnSpan(1, 0), 2);
    QCOMPARE(model->index(1, 0).data(Qt::BackgroundRole).value<QBrush>().color(),
             QColor(QStringLiteral("gray")));
}

void TstWidgetKit::dialogItemEditsThroughItsDialog()
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
        QCOMPARE(dialog->property("row_index").toInt(), 1);
        QCOMPARE(dialog->line->text(), QStringLiteral("3 users"));
        dialog->line->setText(QStringLiteral("4 users"));
        accept ? dialog->accept() : dialog->reject();
        QTRY_VERIFY(!view.isEditing());
        QCOMPARE(changed.count(), accept ? 1 : 0);
        QCOMPARE(item->value().toString(), accept ? QStringLiteral("4 users") : QStringLiteral("3 users"));
        if (!accept) {
            continue;
        }
        QCOMPARE(changed.at(0).at(0).toString(), QStringLiteral("Users"));
    }
}

void TstWidgetKit::checkableViewReportsChecks()
{
    PelmModelViewCheckable view;
    view.addItem(new PelmLineItem(QStringLiteral("Model"), QStringLiteral("WLC")));
    view.addItem(new PelmNumericItem(QStringLiteral("Port"), 4001));
    QSignalSpy checked(&view, &PelmModelViewCheckable::parameterChecked);
    QSignalSpy changed(&view, &PelmModelView::parameterChanged);

    view.itemModel()->item(1, 0)->setCheckState(Qt::Checked);
    QCOMPARE(checked.count(), 1);
    QCOMPARE(checked.at(0).at(0).toString(), QStringLiteral("Port"));
    QCOMPARE(checked.at(0).at(1).toBool(), true);
    QCOMPARE(view.checkedNames(), QStringList{QStringLiteral("Port")});

    view.findItem(QStringLiteral("Model"))->setValue(QStringLiteral("WLY"));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(checked.count(), 1);
}

QTEST_MAIN(TstWidgetKit)
#include "tst_widgetkit.moc"
