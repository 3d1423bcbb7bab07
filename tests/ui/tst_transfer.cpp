#include "controller/capturecore.h"
#include "controller/cdevicecontroller.h"
#include "log/datafeedtablemodel.h"
#include "support/scripteddevice.h"
#include "support/testdatabase.h"
#include "support/uicommon.h"
#include "support/widgetuser.h"
#include "ui/capture/applicationcontroller.h"
#include "ui/log/datafeedtableview.h"
#include "ui/requestnotice.h"
#include "ui/settings/optionstore.h"
#include "ui/settings/settingscontroller.h"
#include "ui/transferwidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QtTest>

namespace {

// A plain reader of delimited text as a spreadsheet reads it: fields in double quotes may hold the
// delimiter, line breaks and doubled quotes; every line ends with a line feed.
QList<QStringList> readDelimited(const QByteArray& bytes, QChar delimiter)
{
    const QString text = QString::fromUtf8(bytes);
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c != QLatin1Char('"')) {
                field += c;
            } else if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                field += c;
                ++i;
            } else {
                quoted = false;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == delimiter || c == QLatin1Char('\n')) {
            row << field;
            field.clear();
            if (c == QLatin1Char('\n')) {
                rows << row;
                row.clear();
            }
        } else {
            field += c;
        }
    }
    if (!row.isEmpty() || !field.isEmpty()) {
        rows << (row << field + QStringLiteral("<no line end>"));
    }
    return rows;
}

} // namespace

// The transfer options kept between runs, and the files the capture export writes.
class TstTransfer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void choicesSurviveRestart();
    void columnWidthsSurviveRestart();
    void exportFile_data();
    void exportFile();
    void captureFileHasOneHeader();

private:
    // The options as a new run begins with them; the settings store is left alone.
    void startValues();

    TestDatabase m_db;
    DataFeedTableModel* m_feed = CaptureCore::instance()->model();
    ApplicationController* m_app = ApplicationController::instance();
    SettingsController& s = *SettingsController::instance();
};

void TstTransfer::initTestCase()
{
    QVERIFY(m_db.isValid());
    m_app->init();
}

void TstTransfer::startValues()
{
    resetCaptureSettings();
    for (TwoStateElement* e : {&s.timeField, &s.delimiterChosen, &s.isoDates, &s.afterTab, &s.afterComma,
                               &s.betweenEnter, &s.stableOnly}) {
        e->setState(false);
    }
    s.headerRow.setState(true);
}

void TstTransfer::init()
{
    startValues();
    s.countField.setState(true);
    s.dateField.setState(true);
    s.noteField.setState(true);
    QSettings().clear();
    m_app->setFinishQuestion([](const QString&) { return true; });
    m_feed->clear();
}

void TstTransfer::cleanup()
{
    m_app->stopExport();
    s.saveToFile.setState(false);
    CDeviceController::instance()->setCurrentDevice(nullptr);
}

void TstTransfer::choicesSurviveRestart()
{
    const QString path = m_db.filePath(QStringLiteral("kept.csv"));
    m_app->setFileChooser([path] { return path; });
    {
        // Made as start-up makes them: the page first, then the stored choices (none yet).
        TransferWidget page;
        s.autoSend.setState(true);
        OptionStore store;
        QVERIFY(s.headerRow.value());
        child<QCheckBox>(&page, "timeBox")->click();
        child<QCheckBox>(&page, "unitBox")->click();
        child<QCheckBox>(&page, "isoDateBox")->click();
        child<QCheckBox>(&page, "headerBox")->click();
        child<QCheckBox>(&page, "autoSendBox")->click();
        child<QRadioButton>(&page, "betweenSemicolon")->click();
        child<QRadioButton>(&page, "afterComma")->click();
        child<QComboBox>(&page, "delayComboBox")->setCurrentIndex(SettingsController::UnitMin);
        child<QSpinBox>(&page, "delaySpinBox")->setValue(7);
        child<QCheckBox>(&page, "fileBox")->click();
        QCOMPARE(m_app->currentFilePath(), path);
    }
    // A new run: every option back at its start value, then the page and the stored choices.
    m_app->setFileChooser([] { return QString(); });
    startValues();
    s.autoSend.setState(true);
    {
        TransferWidget page;
        OptionStore store;
        QVERIFY(child<QCheckBox>(&page, "timeBox")->isChecked());
        QVERIFY(!child<QCheckBox>(&page, "unitBox")->isChecked());
        QVERIFY(child<QCheckBox>(&page, "isoDateBox")->isChecked());
        QVERIFY(!child<QCheckBox>(&page, "headerBox")->isChecked());
        QVERIFY(!child<QCheckBox>(&page, "autoSendBox")->isChecked());
        QVERIFY(child<QRadioButton>(&page, "betweenSemicolon")->isChecked());
        QVERIFY(!child<QRadioButton>(&page, "betweenTab")->isChecked());
        QVERIFY(child<QRadioButton>(&page, "afterComma")->isChecked());
        QCOMPARE(child<QComboBox>(&page, "delayComboBox")->currentIndex(), int(SettingsController::UnitMin));
        QCOMPARE(child<QSpinBox>(&page, "delaySpinBox")->value(), 7);
        QCOMPARE(m_app->autoSendIntervalMs(), 7 * 60 * 1000);
        QVERIFY(child<QCheckBox>(&page, "fileBox")->isChecked());
        QCOMPARE(m_app->currentFilePath(), path);
        QCOMPARE(child<QLabel>(&page, "fileLabel")->text(), QStringLiteral("kept.csv"));
        QCOMPARE(s.fileFieldDelimiter(path), QStringLiteral(";"));
    }

    // Settings of an earlier version, which wrote no header row: their files stay so.
    QSettings().clear();
    QSettings().setValue(QStringLiteral("SavedFilePaths/FilePath"), m_db.filePath(QStringLiteral(".")));
    s.headerRow.setState(true);
    OptionStore earlier;
    QVERIFY(!s.headerRow.value());
}

void TstTransfer::columnWidthsSurviveRestart()
{
    const int date = DataFeedTableModel::DateColumn;
    int dragged = 0;
    {
        DataFeedTableView view(m_feed);
        view.resize(900, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        // The user drags the right edge of Date 40 pixels further.
        QHeaderView* header = view.horizontalHeader();
        const QPoint edge(header->sectionViewportPosition(date) + header->sectionSize(date) - 1,
                          header->height() / 2);
        const QPoint to = edge + QPoint(40, 0);
        dragged = header->sectionSize(date) + 40;
        QMouseEvent press(QEvent::MouseButtonPress, edge, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QMouseEvent move(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        for (QMouseEvent* event : {&press, &move, &release}) {
            QApplication::sendEvent(header->viewport(), event);
        }
        QCOMPARE(header->sectionSize(date), dragged);
        // Fitting the contents leaves it as the user made it.
        view.fitColumns();
        QCOMPARE(header->sectionSize(date), dragged);
    }
    DataFeedTableView again(m_feed);
    QCOMPARE(again.horizontalHeader()->sectionSize(date), dragged);
}

void TstTransfer::exportFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("semicolonChosen");
    QTest::addColumn<bool>("isoDates");
    QTest::addColumn<QString>("delimiter");
    QTest::newRow("csv gets commas") << "results.csv" << false << false << ",";
    QTest::newRow("txt gets tabs") << "results.txt" << false << false << "\t";
    QTest::newRow("a chosen delimiter wins, ISO dates") << "results.csv" << true << true << ";";
}

void TstTransfer::exportFile()
{
    QFETCH(QString, name);
    QFETCH(bool, semicolonChosen);
    QFETCH(bool, isoDates);
    QFETCH(QString, delimiter);

    if (semicolonChosen) {
        s.betweenSemicolon.setState(true);
        s.betweenTab.setState(false);
        s.delimiterChosen.setState(true);
    }
    s.isoDates.setState(isoDates);
    m_feed->appendRow({"12-06-2026", "10:00:00", "123456", "12.345", "g", QString()});
    m_feed->appendRow({"12-06-2026", "10:00:01", "123456", "-0.5", "kg", "a,b;c \"q\""});
    const QString path = m_db.filePath(name);
    m_app->setFileChooser([path] { return path; });
    QVERIFY(m_app->saveData());

    // The first column is the feed's empty one, shown and so written; an empty note is an empty
    // last field, nothing more.
    const QString date = isoDates ? QStringLiteral("2026-12-06") : QStringLiteral("12-06-2026");
    const QList<QStringList> expected{{"", "Count", "Date", "Value", "Unit", "Note"},
                                      {"", "1", date, "12.345", "g", ""},
                                      {"", "2", date, "-0.5", "kg", "a,b;c \"q\""}};
    QCOMPARE(readDelimited(fileBytes(path), delimiter.at(0)), expected);
    QCOMPARE(RequestNotice::instance()->text(), QStringLiteral("2 results written to ") + name);
}

void TstTransfer::captureFileHasOneHeader()
{
    ScriptedDevice device(QHash<QString, QByteArray>{});
    device.connectDevice(false);
    CDeviceController::instance()->setCurrentDevice(&device);
    m_app->setFileChooser([] { return QStringLiteral("/nonexistent/dir/out.csv"); });
    s.saveToFile.setState(true);
    QVERIFY(!m_app->startExport());
    QVERIFY(m_app->startFailure().contains(QStringLiteral("cannot be written")));
    s.saveToFile.setState(false);

    const QString path = m_db.filePath(QStringLiteral("capture.csv"));
    m_app->setFileChooser([path] { return path; });
    s.saveToFile.setState(true);
    QSignalSpy ticks(m_app, &ApplicationController::elapsedTimeSig);
    QVERIFY(m_app->startExport());
    m_feed->appendRow({"12-06-2026", "10:00:00", "123456", "12.345", "g", QString()});
    QVERIFY(ticks.wait(2500));
    QVERIFY(m_app->stopExport());
    QCOMPARE(RequestNotice::instance()->text(), QStringLiteral("1 result written to capture.csv"));

    // Added to: no second header, and the time counts from zero again.
    QVERIFY(m_app->elapsed() > 0);
    ModalAnswerer append(QStringLiteral("Append"));
    QVERIFY(m_app->startExport());
    QCOMPARE(m_app->elapsed(), 0);
    QCOMPARE(ticks.last().at(0).toInt(), 0);
    m_feed->appendRow({"12-06-2026", "10:00:05", "123456", "13.5", "g", QString()});
    QCOMPARE(readDelimited(fileBytes(path), QLatin1Char(',')),
             (QList<QStringList>{{"", "Count", "Date", "Value", "Unit", "Note"},
                                 {"", "1", "12-06-2026", "12.345", "g", ""},
                                 {"", "2", "12-06-2026", "13.5", "g", ""}}));
}

QTEST_MAIN(TstTransfer)
#include "tst_transfer.moc"
