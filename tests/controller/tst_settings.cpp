#include "controller/buttonscannerline.h"
#include "controller/settingscontroller.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QtTest>

// Option values bound to several widgets, and the hotkey line.
class TstSettings : public QObject
{
    Q_OBJECT

private slots:
    void twoStateKeepsWidgetsInStep();
    void spinAndComboKeepWidgetsInStep();
    void lineTakesItsFirstValueFromTheWidget();
    void setEnabledReachesEveryWidget();
    void startValuesAndDelimiters_data();
    void startValuesAndDelimiters();
    void scannerLine_data();
    void scannerLine();
    void scannerLineFocusLoss();
};

void TstSettings::twoStateKeepsWidgetsInStep()
{
    TwoStateElement element(false);
    QCheckBox first;
    QCheckBox second;
    second.setChecked(true);
    QSignalSpy changes(&element, &TwoStateElement::stateChanged);

    element.bind(&first);
    QVERIFY(!element.value());
    // The last widget bound decides, and the others follow it.
    element.bind(&second);
    QVERIFY(element.value());
    QVERIFY(first.isChecked());
    QCOMPARE(changes.count(), 1);

    first.setChecked(false);
    QVERIFY(!element.value());
    QVERIFY(!second.isChecked());
    QCOMPARE(changes.count(), 2);
    QCOMPARE(changes.last().at(0).toBool(), false);

    element.setState(true);
    QVERIFY(first.isChecked() && second.isChecked());
    QCOMPARE(changes.count(), 3);
    // Setting the value it already has announces nothing.
    element.setState(true);
    QCOMPARE(changes.count(), 3);
}

void TstSettings::spinAndComboKeepWidgetsInStep()
{
    SpinElement interval(5);
    QSpinBox a;
    QSpinBox b;
    a.setRange(1, 9999);
    b.setRange(1, 9999);
    interval.bind(&a);
    interval.bind(&b);
    // The element gives the widgets their first value.
    QCOMPARE(a.value(), 5);
    QCOMPARE(b.value(), 5);
    QSignalSpy changes(&interval, &SpinElement::stateChanged);
    b.setValue(42);
    QCOMPARE(interval.value(), 42);
    QCOMPARE(a.value(), 42);
    QCOMPARE(changes.count(), 1);
    // A raised minimum moves the widgets, and the element follows what they show.
    a.setMinimum(250);
    b.setMinimum(250);
    QCOMPARE(interval.value(), 250);
    interval.setState(5);
    QCOMPARE(interval.value(), 250);
    QCOMPARE(a.value(), 250);

    ComboElement unit(1);
    QComboBox c;
    QComboBox d;
    for (QComboBox* box : {&c, &d}) {
        box->addItems({"Ms", "Sec", "Min", "Hrs"});
        unit.bind(box);
    }
    QCOMPARE(c.currentIndex(), 1);
    QCOMPARE(d.currentIndex(), 1);
    QSignalSpy unitChanges(&unit, &ComboElement::stateChanged);
    d.setCurrentIndex(3);
    QCOMPARE(unit.value(), 3);
    QCOMPARE(c.currentIndex(), 3);
    QCOMPARE(unitChanges.count(), 1);
}

void TstSettings::lineTakesItsFirstValueFromTheWidget()
{
    LineElement hotkey;
    QLineEdit first;
    QLineEdit second;
    second.setText(QStringLiteral("F5"));
    hotkey.bind(&first);
    hotkey.bind(&second);
    QCOMPARE(hotkey.value(), QStringLiteral("F5"));
    QCOMPARE(first.text(), QStringLiteral("F5"));
    first.setText(QStringLiteral("F9"));
    QCOMPARE(hotkey.value(), QStringLiteral("F9"));
    QCOMPARE(second.text(), QStringLiteral("F9"));
}

void TstSettings::setEnabledReachesEveryWidget()
{
    TwoStateElement check;
    SpinElement spin;
    ComboElement combo;
    LineElement line;
    QCheckBox box;
    QSpinBox spinBox;
    QComboBox comboBox;
    QLineEdit lineEdit;
    check.bind(&box);
    spin.bind(&spinBox);
    combo.bind(&comboBox);
    line.bind(&lineEdit);
    check.setEnabled(false);
    spin.setEnabled(false);
    combo.setEnabled(false);
    line.setEnabled(false);
    QVERIFY(!box.isEnabled() && !spinBox.isEnabled() && !comboBox.isEnabled() && !lineEdit.isEnabled());
    check.setEnabled(true);
    QVERIFY(box.isEnabled());
    // A widget that is gone is skipped.
    {
        QCheckBox shortLived;
        check.bind(&shortLived);
    }
    check.setState(!check.value());
    check.setEnabled(false);
    QVERIFY(!box.isEnabled());
}

void TstSettings::startValuesAndDelimiters_data()
{
    QTest::addColumn<QStringList>("between");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("line");

    QTest::newRow("start") << QStringList() << QStringList() << "\t"
                           << "\n";
    QTest::newRow("semicolon, comma") << QStringList{"betweenSemicolon"} << QStringList{"afterComma"} << ";"
                                      << ",";
    QTest::newRow("none") << QStringList{"betweenNone"} << QStringList{"afterNone"} << ""
                          << "";
    QTest::newRow("comma with none") << QStringList{"betweenComma", "betweenNone"} << QStringList{"afterTab"}
                                     << ""
                                     << "\t";
    QTest::newRow("enter wins") << QStringList{"betweenEnter", "betweenSemicolon"}
                                << QStringList{"afterSemicolon"} << "\n"
                                << ";";
}

void TstSettings::startValuesAndDelimiters()
{
    QFETCH(QStringList, between);
    QFETCH(QStringList, after);
    QFETCH(QString, field);
    QFETCH(QString, line);

    SettingsController* s = SettingsController::instance();
    TwoStateElement* betweens[] = {&s->betweenNone, &s->betweenSemicolon, &s->betweenTab, &s->betweenEnter,
                                   &s->betweenComma};
    TwoStateElement* afters[] = {&s->afterNone, &s->afterSemicolon, &s->afterTab, &s->afterEnter,
                                 &s->afterComma};
    const char* names[] = {"None", "Semicolon", "Tab", "Enter", "Comma"};
    if (!between.isEmpty()) {
        for (int i = 0; i < 5; ++i) {
            betweens[i]->setState(between.contains(QStringLiteral("between") + names[i]));
            afters[i]->setState(after.contains(QStringLiteral("after") + names[i]));
        }
    } else {
        // The values a start begins with.
        QVERIFY(s->unitField.value());
        QVERIFY(!s->pasteToCursor.value() && !s->saveToFile.value() && !s->countField.value());
        QCOMPARE(s->autoSendInterval.value(), 5);
        QCOMPARE(s->autoSendUnit.value(), int(SettingsController::UnitSec));
        QVERIFY(s->terminalInOut.value() && s->terminalEcho.value() && !s->terminalRawChunks.value());
    }
    QCOMPARE(s->fieldDelimiter(), field);
    QCOMPARE(s->lineDelimiter(), line);
}

void TstSettings::scannerLine_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("text");

    QTest::newRow("F5") << int(Qt::Key_F5) << "F5";
    QTest::newRow("letter") << int(Qt::Key_S) << "S";
    QTest::newRow("Escape cancels") << int(Qt::Key_Escape) << "F2";
    QTest::newRow("Shift alone cancels") << int(Qt::Key_Shift) << "F2";
    QTest::newRow("Control alone cancels") << int(Qt::Key_Control) << "F2";
    QTest::newRow("Alt alone cancels") << int(Qt::Key_Alt) << "F2";
}

void TstSettings::scannerLine()
{
    QFETCH(int, key);
    QFETCH(QString, text);

    ButtonScannerLine line;
    line.show();
    QVERIFY(QTest::qWaitForWindowExposed(&line));
    // A first hotkey, F2, recorded the same way.
    QTest::mouseClick(&line, Qt::LeftButton);
    QCOMPARE(line.text(), QStringLiteral("><"));
    QTest::keyClick(&line, Qt::Key_F2);
    QCOMPARE(line.text(), QStringLiteral("F2"));
    QVERIFY(!line.isScanning());

    LineElement hotkey;
    hotkey.bind(&line);
    QTest::mouseClick(&line, Qt::LeftButton);
    QVERIFY(line.isScanning());
    // Modifiers held with the key are not part of it.
    QTest::keyClick(&line, Qt::Key(key), key == Qt::Key_F5 ? Qt::ControlModifier : Qt::NoModifier);
    QCOMPARE(line.text(), text);
    QCOMPARE(line.savedText(), text);
    QCOMPARE(hotkey.value(), text);
    QVERIFY(!line.isScanning());
}

void TstSettings::scannerLineFocusLoss()
{
    QWidget window;
    auto* line = new ButtonScannerLine(&window);
    auto* other = new QLineEdit(&window);
    other->move(0, 40);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QApplication::setActiveWindow(&window);
    line->setFocus();
    QTest::mouseClick(line, Qt::LeftButton);
    QTest::keyClick(line, Qt::Key_F7);
    QTest::mouseClick(line, Qt::LeftButton);
    QCOMPARE(line->text(), QStringLiteral("><"));
    other->setFocus();
    QTRY_VERIFY(!line->isScanning());
    QCOMPARE(line->text(), QStringLiteral("F7"));
}

QTEST_MAIN(TstSettings)
#include "tst_settings.moc"
