#include "log/cpelmlog.h"
#include "support/testdatabase.h"
#include "support/widgetuser.h"
#include "ui/capture/applicationcontroller.h"
#include "ui/focusmark.h"
#include "ui/mainwindow.h"
#include "ui/qwinwidget.h"
#include "ui/windowplacement.h"

#include <QAbstractButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QtTest>

#include <memory>

// The host window on small screens and for the keyboard: where it opens, that every page fits a
// 1280x720 screen, and that Tab and the shortcuts reach every page.
class TstWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void startGeometry_data();
    void startGeometry();
    void pagesFitSmallScreen();
    void keyboardReachesEveryPage();

private:
    TestDatabase database;
    std::unique_ptr<CPelmLog> log;
    std::unique_ptr<QWinWidget> host;
};

void TstWindow::initTestCase()
{
    QVERIFY(database.isValid());
    DeviceTypes::registerMetaTypes();
    log = std::make_unique<CPelmLog>();
    ApplicationController::instance()->init();
}

void TstWindow::init()
{
    host = std::make_unique<QWinWidget>();
    host->resize(1280, 720);
    host->show();
    QApplication::setActiveWindow(host.get());
    QVERIFY(QTest::qWaitForWindowActive(host.get()));
}

void TstWindow::cleanup()
{
    host.reset();
}

void TstWindow::startGeometry_data()
{
    QTest::addColumn<QRect>("saved");
    QTest::addColumn<QPoint>("pointer");
    QTest::addColumn<QRect>("expected");
    // A full HD screen and, to its right, a 1280x720 one whose panel takes 40 pixels.
    QTest::newRow("first start: centred on the pointer's screen, fitted")
        << QRect() << QPoint(2000, 300) << QRect(1984, 34, 1152, 640);
    QTest::newRow("first start on the large screen") << QRect() << QPoint(5, 5) << QRect(96, 54, 1728, 972);
    QTest::newRow("restored where it was left")
        << QRect(2000, 10, 1100, 650) << QPoint(5, 5) << QRect(2000, 10, 1100, 650);
    QTest::newRow("too large for its screen now: shrunk onto it")
        << QRect(1900, -20, 1600, 900) << QPoint(5, 5) << QRect(1920, 0, 1280, 680);
    QTest::newRow("its screen is gone: centred on the pointer's")
        << QRect(3400, 200, 1200, 700) << QPoint(100, 100) << QRect(96, 54, 1728, 972);
    QTest::newRow("off every screen above")
        << QRect(100, -2000, 1200, 700) << QPoint(2000, 300) << QRect(1984, 34, 1152, 640);
}

void TstWindow::startGeometry()
{
    QFETCH(QRect, saved);
    QFETCH(QPoint, pointer);
    QFETCH(QRect, expected);
    const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 680)};
    QCOMPARE(WindowPlacement::startGeometry(saved, screens, pointer, host->minimumSize()), expected);
}

// At 1280x720 every page is shown whole, with nothing to scroll; at the window's minimum a page that
// needs more room scrolls instead of being cut.
void TstWindow::pagesFitSmallScreen()
{
    QCOMPARE(host->size(), QSize(1280, 720));
    MainWindow* main = host->mainWindow();
    auto* scroll = child<QScrollArea>(main, "pageScrollArea");
    auto* stack = child<QStackedWidget>(main, "mainStack");
    for (int page = 0; page < stack->count(); ++page) {
        QTest::keyClick(main, Qt::Key(Qt::Key_1 + page), Qt::ControlModifier);
        QCOMPARE(stack->currentIndex(), page);
        QVERIFY(QTest::qWaitForWindowExposed(host.get()));
        QTRY_COMPARE(host->size(), QSize(1280, 720));
        // The data capture page in each of its views.
        for (const char* view : {"feedButton", "terminalButton", "displayButton"}) {
            if (page == MainWindow::DataCapturePage) {
                child<QAbstractButton>(stack->currentWidget(), view)->click();
            }
            // Nothing to scroll: the page has the whole viewport, which shows it whole.
            QTRY_COMPARE(stack->size(), scroll->viewport()->size());
            QVERIFY2(!scroll->verticalScrollBar()->isVisible(), view);
            QVERIFY(!scroll->horizontalScrollBar()->isVisible());
        }
    }
    host->resize(host->minimumSize());
    QCOMPARE(host->size(), QSize(QWinWidget::MinimumWidth, QWinWidget::MinimumHeight));
    QVERIFY(host->minimumSize().width() <= 1280 && host->minimumSize().height() <= 680);
    QWidget* page = stack->currentWidget();
    QTRY_VERIFY(page->height() >= page->minimumSizeHint().height() &&
                page->width() >= page->minimumSizeHint().width());
}

// Tab goes round every control of the page shown, the side bar included, each ringed and named; the
// shortcuts open the pages and F11 switches full screen.
void TstWindow::keyboardReachesEveryPage()
{
    MainWindow* main = host->mainWindow();
    auto* stack = child<QStackedWidget>(main, "mainStack");
    QStringList unnamed;
    for (int page : {2, 0, 1}) {
        QTest::keyClick(main, Qt::Key(Qt::Key_1 + page), Qt::ControlModifier);
        QCOMPARE(stack->currentIndex(), page);
        QVERIFY(child<QAbstractButton>(main, page == 0   ? "deviceButton"
                                             : page == 1 ? "dataCaptureButton"
                                                         : "transferButton")
                    ->isChecked());
        // From the top of the window, in reading order.
        if (QWidget* focus = QApplication::focusWidget()) {
            focus->clearFocus();
        }
        QStringList sideBar;
        QWidget* first = nullptr;
        for (int i = 0; i < 200; ++i) {
            QWidget* focus = QApplication::focusWidget();
            QTest::keyClick(focus ? focus : main, Qt::Key_Tab);
            focus = QApplication::focusWidget();
            QVERIFY(focus);
            if (focus == first) {
                break;
            }
            first = first ? first : focus;
            QCOMPARE(FocusMark::target(), focus);
            if (focus->accessibleName().isEmpty()) {
                unnamed << focus->objectName() + QLatin1Char('/') +
                               QLatin1String(focus->metaObject()->className());
            }
            if (focus->parentWidget()->objectName() == QLatin1String("pagesBar")) {
                sideBar << focus->accessibleName();
            }
        }
        QCOMPARE(sideBar, (QStringList{"Device", "Data Capture", "Transfer"}));
    }
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QLatin1Char(' '))));

    QTest::keyClick(main, Qt::Key_F11);
    QTRY_VERIFY(host->isFullScreen());
    QTest::keyClick(main, Qt::Key_F11);
    QTRY_VERIFY(!host->isFullScreen());
}

QTEST_MAIN(TstWindow)
#include "tst_window.moc"
