#include "ui/settings/buttonscannerline.h"
#include "ui/settings/settingscontroller.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QtTest>

// Option values bound to several widgets, the delimiters, and the hotkey line.
class TstSettings : public QObject
{
    Q_OBJECT

private slots:
    void elementsKeepWidgetsInStep();
    void delimiters_data();
    void delimiters();
    void scannerLine_data();
    void scannerLine();
};

void TstSettings::elementsKeepWidgetsInStep()
{
    // The last widget bound decides, the others follow it, and a repeated value is announced once.
    TwoStateElement check(false);
    QCheckBox box1;
    QCheckBox box2;
    box2.setChecked(true);
    QSignalSpy checkChanges(&check, &TwoStateElement::stateChanged);
    check.bind(&box1);
    check.bind(&box2);
    box1.setChecked(false);
    QVERIFY(!check.value() && !box2.isChecked());
    check.setState(true);
    check.setState(true);
    QVERIFY(box1.isChecked() && box2.isChecked());
    QCOMPARE(checkChanges.count(), 3);

    // A line takes its first value from the widget. (Spin and combo elements with two widgets are in
    // tst_pages, msRaisesMinimum.)
    LineElement line;
    QLineEdit line1;
    QLineEdit line2(QStringLiteral("F5"));
    line.bind(&line1);
    line.bind(&line2);
    QCOMPARE(line1.text(), QStringLiteral("F5"));
    line1.setText(QStringLiteral("F9"));
    QCOMPARE(line2.text() + line.value(), QStringLiteral("F9F9"));

    // Enabling reaches every widget still there.
    SpinElement spin(5);
    QSpinBox spinBox;
    spin.bind(&spinBox);
    // A widget whose range cannot hold a value clamps it: the value kept is the one it shows.
    QSpinBox narrow;
    narrow.setRange(250, 900);
    spin.bind(&narrow);
    spin.setState(5);
    QCOMPARE(spin.value(), narrow.value());
    ComboElement combo(1);
    QComboBox comboBox;
    combo.bind(&comboBox);
    {
        QCheckBox shortLived;
        check.bind(&shortLived);
    }
    check.setState(false);
    check.setEnabled(false);
    spin.setEnabled(false);
    combo.setEnabled(false);
    line.setEnabled(false);
    QVERIFY(!box1.isEnabled() && !box2.isEnabled() && !spinBox.isEnabled() && !comboBox.isEnabled() &&
            !line2.isEnabled());
}

void TstSettings::delimiters_data()
{
    QTest::addColumn<QStringList>("chosen");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("line");
    auto row = [](const char* name, const QStringList& chosen, const char* field, const char* line) {
        QTest::newRow(name) << chosen << QString::fromLatin1(field) << QString::fromLatin1(line);
    };
    row("start values", {}, "\t", "\n");
    row("semicolon, comma", {"Semicolon", "afterComma"}, ";", ",");
    row("none", {"None", "afterNone"}, "", "");
    row("comma with none", {"Comma", "None", "afterTab"}, "", "\t");
    row("enter wins", {"Enter", "Semicolon", "afterSemicolon"}, "\n", ";");
}

void TstSettings::delimiters()
{
    QFETCH(QStringList, chosen);
    QFETCH(QString, field);
    QFETCH(QString, line);

    // chosen names the delimiters between fields ("Tab") and after the line ("afterTab").
    SettingsController* s = SettingsController::instance();
    TwoStateElement* between[] = {&s->betweenNone, &s->betweenSemicolon, &s->betweenTab, &s->betweenEnter,
                                  &s->betweenComma};
    TwoStateElement* after[] = {&s->afterNone, &s->afterSemicolon, &s->afterTab, &s->afterEnter,
                                &s->afterComma};
    const char* names[] = {"None", "Semicolon", "Tab", "Enter", "Comma"};
    for (int i = 0; i < 5 && !chosen.isEmpty(); ++i) {
        between[i]->setState(chosen.contains(QLatin1String(names[i])));
        after[i]->setState(chosen.contains(QLatin1String("after") + QLatin1String(names[i])));
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
    QTest::newRow("focus lost") << 0 << "F2";
}

void TstSettings::scannerLine()
{
    QFETCH(int, key);
    QFETCH(QString, text);

    QWidget window;
    auto* line = new ButtonScannerLine(&window);
    auto* other = new QLineEdit(&window);
    other->move(0, 40);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QApplication::setActiveWindow(&window);
    line->setFocus();
    // A first hotkey, F2, recorded the same way.
    QTest::mouseClick(line, Qt::LeftButton);
    QCOMPARE(line->text(), QStringLiteral("><"));
    QTest::keyClick(line, Qt::Key_F2);
    LineElement hotkey;
    hotkey.bind(line);
    QTest::mouseClick(line, Qt::LeftButton);
    QVERIFY(line->isScanning());
    if (key == 0) {
        other->setFocus();
    } else {
        // Modifiers held with the key are not part of it.
        QTest::keyClick(line, Qt::Key(key), key == Qt::Key_F5 ? Qt::ControlModifier : Qt::NoModifier);
    }
    QTRY_VERIFY(!line->isScanning());
    QCOMPARE(line->text(), text);
    QCOMPARE(line->savedText(), text);
    QCOMPARE(hotkey.value(), text);
}

QTEST_MAIN(TstSettings)
#include "tst_settings.moc"
