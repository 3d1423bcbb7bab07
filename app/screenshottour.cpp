#include "app/screenshottour.h"

#include "controller/ccontrollerinterface.h"
#include "device/cdevice.h"
#include "interface/crs232.h"
#include "interface/ctibbo.h"
#include "log/datafeedtablemodel.h"
#include "platform/logcategories.h"
#include "platform/pinger.h"
#include "search/csearching.h"
#include "ui/capture/applicationcontroller.h"
#include "ui/confirmationdialog.h"
#include "ui/devicewidget.h"
#include "ui/firmwaredialog.h"
#include "ui/interfacedialog.h"
#include "ui/log/datafeedtableview.h"
#include "ui/log/filterwidget.h"
#include "ui/log/pelmfiledialog.h"
#include "ui/log/pelmlogview.h"
#include "ui/mainwindow.h"
#include "ui/qwinwidget.h"
#include "ui/search/mervikunreachabledialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QDateTime>
#include <QFile>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTimer>

#include <algorithm>

namespace {

// Enough results to fill the database's last page, so that some of them wait.
constexpr int WaitingShotResults = 40;

// Answers for the pictures without sending anything: the first addresses asked for are taken, the
// rest free.
class PictureInPinger : public Pinger
{
public:
    using Pinger::Pinger;
    void ping(const QHostAddress& address) override
    {
        const Result result = ++m_asked <= 2 ? Answered : Silent;
        QTimer::singleShot(20, this, [this, address, result] { emit finished(address, result); });
    }

private:
    int m_asked = 0;
};

// A module of a made-up instrument, with the settings given; it is never asked anything.
CDevice* instrumentWithModule(QObject* parent, bool dhcp, bool obtained, const char* address)
{
    auto* device = new CDevice(parent);
    const QHostAddress moduleAddress{QString::fromLatin1(address)};
    auto* module = new CTibbo(QHostAddress(QStringLiteral("192.168.1.20")), 0xffffff00u,
                              QByteArrayLiteral("0.36.119.3.65.7"), moduleAddress, device);
    module->setPlannedSettings(dhcp, CInterfaceModule::ROUTING_SERVER,
                               QHostAddress(QStringLiteral("10.0.7.1")),
                               QHostAddress(QStringLiteral("255.255.255.0")), CInterfaceModule::PROTOCOL_TCP);
    module->setDhcpState(dhcp, obtained);
    device->setModule(module);
    device->setLAN(moduleAddress, 1001);
    device->isReachable();
    return device;
}

// An S-record image: a header, data records and the closing record, each with its checksum.
QByteArray firmwareImage(int lines)
{
    const auto record = [](char type, int address, const QByteArray& data) {
        QByteArray bytes = QByteArray(1, char(data.size() + 3)) + char(address >> 8) + char(address) + data;
        int sum = 0;
        for (char byte : bytes) {
            sum += quint8(byte);
        }
        return 'S' + QByteArray(1, type) + (bytes + char(~sum)).toHex().toUpper() + "\r\n";
    };
    QByteArray image = record('0', 0, "picture");
    for (int i = 1; i < lines - 1; ++i) {
        image += record('1', i * 16, QByteArray(16, char(i)));
    }
    return image + record('9', 0, QByteArray());
}

// A network instrument as a search lists it when its module's settings keep it out of reach (its
// address outside the computer's subnet). Made up for the pictures: nothing is sent to it.
CDevice* unreachableInstrument(QObject* parent)
{
    return instrumentWithModule(parent, false, true, "10.0.7.50");
}
} // namespace

ScreenshotTour::ScreenshotTour(QWinWidget* window, const QString& folder, QObject* parent)
    : QObject(parent), m_window(window), m_folder(folder)
{
    bool ok = false;
    const int settleMs = qEnvironmentVariableIntValue("MERVIK_SCREENSHOT_SETTLE_MS", &ok);
    if (ok && settleMs >= 0) {
        m_settleMs = settleMs;
    }
    const QStringList size = qEnvironmentVariable("MERVIK_SCREENSHOT_SIZE").split(QLatin1Char('x'));
    if (size.size() == 2) {
        m_size = QSize(size.at(0).toInt(), size.at(1).toInt());
    }
}

void ScreenshotTour::add(const QString& name, Action action)
{
    m_steps.append({name, std::move(action)});
}

void ScreenshotTour::addDialog(const QString& name, std::function<QWidget*()> make)
{
    add(name, [this, make] {
        m_subject = make();
        if (m_subject) {
            m_subject->setAttribute(Qt::WA_DeleteOnClose);
            m_subject->show();
        }
    });
}

void ScreenshotTour::start()
{
    if (!m_folder.mkpath(QStringLiteral("."))) {
        qCWarning(lcUi) << "cannot create" << m_folder.absolutePath();
        emit finished(false);
        return;
    }
    m_size = m_size.isValid() ? m_size.expandedTo(m_window->minimumSize()) : m_window->minimumSize();
    m_window->resize(m_size);
    MainWindow* main = m_window->mainWindow();

    const CDevice* device = CControllerInterface::currentDevice();
    if (device && device->state() == STATE_CONNECTED) {
        for (int i = 0; i < WarmUpRequests; ++i) {
            QTimer::singleShot(i * WarmUpIntervalMs, ApplicationController::instance(),
                               &ApplicationController::send);
        }
    }
    add(QStringLiteral("start-screen"), [] {});
    add(QStringLiteral("device"), [this] { clickFrame("deviceFrame"); });
    addDeviceViews(main);

    // The data capture page's views, when the page has them.
    QWidget* capture = main->findChild<QWidget*>(QStringLiteral("dataFeedWidget"));
    const struct
    {
        const char* button;
        const char* file;
    } views[] = {{"feedButton", "data-capture-feed"},
                 {"displayButton", "data-capture-display"},
                 {"terminalButton", "data-capture-terminal"},
                 {"chartButton", "data-capture-chart"}};
    bool anyView = false;
    for (const auto& view : views) {
        if (capture && capture->findChild<QAbstractButton*>(QLatin1String(view.button))) {
            const char* button = view.button;
            add(QLatin1String(view.file), [this, main, capture, button] {
                clickButton(main, "dataCaptureButton");
                clickButton(capture, button);
            });
            anyView = true;
        }
    }
    if (capture && anyView) {
        addCaptureDetails(main, capture);
    }
    if (!anyView) {
        add(QStringLiteral("data-capture"), [this, main] { clickButton(main, "dataCaptureButton"); });
    }
    add(QStringLiteral("transfer"), [this, main] { clickButton(main, "transferButton"); });
    // Last when connected: the upload takes the instrument into its loader.
    const bool connected = device && device->state() == STATE_CONNECTED;
    addFirmwareUpload(main, connected);
    if (!connected && capture) {
        // TARE pressed with no instrument, as a user does; last, as the status line keeps the notice a while.
        add(QStringLiteral("data-capture-notice"), [this, main, capture] {
            clickButton(main, "dataCaptureButton");
            clickButton(capture, "displayButton");
            clickFrame("tareFrame");
        });
    }

    // The first view waits for the warm-up results as well.
    QTimer::singleShot(WarmUpRequests * WarmUpIntervalMs, this, &ScreenshotTour::runNext);
}

void ScreenshotTour::addDeviceViews(MainWindow* main)
{
    auto* page = main->findChild<DeviceWidget*>();
    if (!page) {
        return;
    }
    // The connected instrument is listed by the page itself, however it was connected; selected, the
    // button offers to disconnect it.
    add(QStringLiteral("device-find"), [this, page] {
        const CDevice* current = CControllerInterface::currentDevice();
        page->onNewDevice(unreachableInstrument(this));
        page->onNewLog(QStringLiteral("Searching serial ports and networks...\n"));
        if (current) {
            page->onNewLog(current->interfaceDescription() + QStringLiteral(": ") + current->model() +
                           QStringLiteral("\n"));
        }
        const auto* serial = current ? qobject_cast<const CRS232*>(current->interface()) : nullptr;
        const QString summary = CSearching::summaryText(
            current ? 2 : 1, false, {serial ? serial->portPath() : QStringLiteral("/dev/ttyUSB0")},
            {QStringLiteral("eth0")});
        page->onNewLog(summary);
        page->onSearchSummary(summary);
        page->searchFinished();
        page->findChild<QTableWidget*>(QStringLiteral("tableDevices"))->selectRow(0);
    });
    add(QStringLiteral("device-serial"), [this, page] { clickButton(page, "usbButton"); });
    // The serial view naming the connected instrument's port: its button disconnects it.
    const CDevice* connected = CControllerInterface::currentDevice();
    const auto* serial = connected ? qobject_cast<const CRS232*>(connected->interface()) : nullptr;
    if (serial && connected->state() == STATE_CONNECTED) {
        const QString port = serial->portPath();
        add(QStringLiteral("device-serial-connected"), [this, page, port] {
            clickButton(page, "usbButton");
            page->findChild<QComboBox*>(QStringLiteral("comPortBox"))->setEditText(port);
        });
    }
    add(QStringLiteral("device-network"), [this, page] {
        clickButton(page, "ethButton");
        page->findChild<QLineEdit*>(QStringLiteral("scaleIPBox"))->setText(QStringLiteral("192.168.1.140"));
    });
    // With its starting values: the instrument of these pictures has no network module.
    addDialog(QStringLiteral("interface-dialog"), [page] { return new InterfaceDialog(page); });
    // Both explanations: no DHCP server answered, and an address from DHCP that is not this network's.
    Pinger::setInstance(new PictureInPinger(this));
    addDialog(QStringLiteral("unreachable-no-dhcp"), [this, page] {
        return new MervikUnreachableDialog(instrumentWithModule(this, true, false, "0.0.0.0"), page);
    });
    addDialog(QStringLiteral("unreachable-dhcp-address"), [this, page] {
        return new MervikUnreachableDialog(instrumentWithModule(this, true, true, "10.0.7.50"), page);
    });
}

void ScreenshotTour::addCaptureDetails(MainWindow* main, QWidget* capture)
{
    auto* feed = capture->findChild<DataFeedTableView*>(QStringLiteral("tableWidget"));
    auto* fullScreen = capture->findChild<QAbstractButton*>(QStringLiteral("fullScreenButton"));
    auto* log = capture->findChild<PelmLogView*>(QStringLiteral("tableLogs"));
    // Every optional column of the feed: the panel's boxes, as a user ticks them.
    QWidget* panel = capture->findChild<QWidget*>(QStringLiteral("exportRightContext"));
    QWidget* display = capture->findChild<QWidget*>(QStringLiteral("displayWidget"));
    const auto allColumns = [panel](bool on) {
        for (const char* name : {"countBox", "dateBox", "timeBox", "snBox", "customBox"}) {
            if (auto* box = panel ? panel->findChild<QAbstractButton*>(QLatin1String(name)) : nullptr) {
                box->setChecked(on);
            }
        }
    };
    if (feed) {
        add(QStringLiteral("data-capture-feed-large"), [this, main, capture, allColumns] {
            clickButton(main, "dataCaptureButton");
            clickButton(capture, "feedButton");
            allColumns(true);
            m_window->resize(1920, 1080);
            m_undo = [this] { m_window->resize(m_size); };
        });
        // The pointer at rest on the middle row; results streaming in meanwhile are counted, not shown.
        const auto restOnRows = [feed] {
            QWidget* viewport = feed->viewport();
            const int row = std::max(0, feed->rowAt(viewport->height() / 2));
            const QPoint at =
                feed->visualRect(feed->model()->index(row, DataFeedTableModel::ValColumn)).center();
            // Where the view looks for the pointer when new rows scroll it.
            QCursor::setPos(viewport->mapToGlobal(at));
            QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                             Qt::NoModifier);
            QCoreApplication::sendEvent(viewport, &move);
        };
        const auto leaveRows = [feed] {
            QEvent leave(QEvent::Leave);
            QCoreApplication::sendEvent(feed, &leave);
        };
        add(QStringLiteral("data-capture-feed-hover"), [this, restOnRows, leaveRows, allColumns] {
            restOnRows();
            m_undo = [leaveRows, allColumns] {
                leaveRows();
                allColumns(false);
            };
        });
        // The row under the pointer deleted with its button, and the notice that takes it back.
        add(QStringLiteral("data-capture-feed-deleted"), [this, feed, restOnRows, leaveRows] {
            restOnRows();
            feed->deleteButtonWidget()->click();
            m_undo = leaveRows;
        });
        // The disk full: the database takes no more pages, so new results wait in memory, greyed, and the
        // status line says so; afterwards they are stored.
        add(QStringLiteral("data-capture-feed-waiting"), [this, feed] {
            QSqlQuery pragma;
            if (pragma.exec(QStringLiteral("PRAGMA page_count")) && pragma.next()) {
                pragma.exec(QStringLiteral("PRAGMA max_page_count = %1").arg(pragma.value(0).toLongLong()));
            }
            const QDateTime now = QDateTime::currentDateTime();
            for (int i = 0; i < WaitingShotResults; ++i) {
                feed->addRow({now.date().toString(QLatin1String(DataFeedTableModel::DateFormat)),
                              now.time().toString(QLatin1String(DataFeedTableModel::TimeFormat)),
                              QStringLiteral("123456"), QString::number(100.0 + i * 0.25, 'f', 2),
                              QStringLiteral("g"), QString()});
            }
            feed->scrollToBottom();
            m_undo = [] { QSqlQuery().exec(QStringLiteral("PRAGMA max_page_count = 1073741823")); };
        });
    }
    if (capture->findChild<QAbstractButton*>(QStringLiteral("chartButton"))) {
        // At full-HD size, beyond the offscreen screen as the feed's large picture.
        add(QStringLiteral("data-capture-chart-large"), [this, main, capture] {
            clickButton(main, "dataCaptureButton");
            clickButton(capture, "chartButton");
            m_window->resize(1920, 1080);
            m_undo = [this] { m_window->resize(m_size); };
        });
        if (feed) {
            // The middle half of the feed's rows picked: the chart and its statistics show those only.
            add(QStringLiteral("data-capture-chart-selected"), [this, main, capture, feed] {
                clickButton(main, "dataCaptureButton");
                clickButton(capture, "feedButton");
                const int rows = feed->model()->rowCount();
                feed->selectionModel()->select(
                    QItemSelection(feed->model()->index(rows / 4, 0), feed->model()->index(rows * 3 / 4, 0)),
                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
                clickButton(capture, "chartButton");
                m_undo = [feed] { feed->clearSelection(); };
            });
        }
    }
    if (fullScreen && display) {
        add(QStringLiteral("data-capture-display-fullscreen"), [this, capture, fullScreen, display] {
            clickButton(capture, "displayButton");
            fullScreen->setChecked(true);
            m_subject = display;
            m_undo = [fullScreen] { fullScreen->setChecked(false); };
        });
    }
    if (log) {
        add(QStringLiteral("data-capture-terminal-filter"), [this, capture, log] {
            clickButton(capture, "terminalButton");
            // Direction, date and message, as chosen in the filter dialog.
            log->filterPanel()->setFilters({true, false, true, false, true});
            m_undo = [log] { log->filterPanel()->setFilters({}); };
        });
    }
}

void ScreenshotTour::addFirmwareUpload(MainWindow* main, bool connected)
{
    const QDir home = QDir::home();
    const QString good = home.filePath(QStringLiteral("picture.s19"));
    const QString small = home.filePath(QStringLiteral("picture-small.s19"));
    const QString damaged = home.filePath(QStringLiteral("picture-damaged.s19"));
    const QByteArray image = firmwareImage(600);
    const auto write = [](const QString& path, const QByteArray& content) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    };
    if (!write(good, image) || !write(small, firmwareImage(3)) ||
        !write(damaged, QByteArray(image).replace(image.indexOf("S1") + 12, 1, "X"))) {
        m_ok = false;
        return;
    }
    addDialog(QStringLiteral("firmware-dialog-no-file"), [main] { return new FirmwareDialog(main); });
    // The chooser as the dialog's "Choose file..." opens it, over the dialog.
    addDialog(QStringLiteral("firmware-file-chooser"), [main] {
        auto* dialog = new FirmwareDialog(main);
        auto* chooser = new PelmFileDialog(QStringLiteral("firmwarePath"), dialog);
        chooser->setFileMode(QFileDialog::ExistingFile);
        chooser->setAcceptMode(QFileDialog::AcceptOpen);
        chooser->setNameFilter(QStringLiteral("Firmware files (*.S19)"));
        chooser->setDirectory(QDir::home());
        connect(chooser, &QObject::destroyed, dialog, &QObject::deleteLater);
        return chooser;
    });
    // A file found damaged before anything is sent (with no instrument: the refusal).
    addNotice(QStringLiteral("firmware-failed"), [main, damaged] { return uploading(main, damaged); });
    if (!connected) {
        return;
    }
    addNotice(QStringLiteral("firmware-uploaded"), [main, small] { return uploading(main, small); });
    // Last: the upload takes the instrument into its loader; the picture is taken while the image goes out.
    addDialog(QStringLiteral("firmware-dialog"), [main, good] { return uploading(main, good); });
}

FirmwareDialog* ScreenshotTour::uploading(MainWindow* main, const QString& path)
{
    auto* dialog = new FirmwareDialog(main);
    dialog->setFile(path);
    // Started and confirmed as a user does.
    QTimer::singleShot(0, dialog, [dialog] {
        auto* answer = new QTimer(dialog);
        connect(answer, &QTimer::timeout, answer, [answer] {
            if (auto* question = qobject_cast<ConfirmationDialog*>(QApplication::activeModalWidget())) {
                const QList<QPushButton*> buttons = question->findChildren<QPushButton*>();
                for (QPushButton* button : buttons) {
                    if (button->text() == QLatin1String("Yes")) {
                        button->click();
                        answer->deleteLater();
                    }
                }
            }
        });
        answer->start(10);
        dialog->findChild<QPushButton*>(QStringLiteral("uploadButton"))->click();
    });
    return dialog;
}

void ScreenshotTour::addNotice(const QString& name, std::function<QWidget*()> make)
{
    add(name, [this, make] {
        QWidget* owner = make();
        owner->setAttribute(Qt::WA_DeleteOnClose);
        owner->show();
        // A notice has one button; the question before the upload has two.
        m_notice = [owner = QPointer<QWidget>(owner)]() -> QWidget* {
            auto* notice = qobject_cast<ConfirmationDialog*>(QApplication::activeModalWidget());
            const auto* confirm =
                notice ? notice->findChild<QWidget*>(QStringLiteral("confirmButton")) : nullptr;
            return notice && notice->parent() == owner && confirm && confirm->isHidden() ? notice : nullptr;
        };
    });
}

void ScreenshotTour::runNext()
{
    if (m_steps.isEmpty()) {
        emit finished(m_ok);
        return;
    }
    const QPair<QString, Action> next = m_steps.takeFirst();
    next.second();
    const QString name = next.first;
    if (m_notice) {
        m_noticeWaited.start();
        awaitNotice(name);
        return;
    }
    QTimer::singleShot(m_settleMs, this, [this, name] {
        shoot(name);
        runNext();
    });
}

void ScreenshotTour::awaitNotice(const QString& name)
{
    QWidget* notice = m_notice();
    if (!notice && m_noticeWaited.elapsed() < NoticeWaitMs) {
        QTimer::singleShot(NoticePollMs, this, [this, name] { awaitNotice(name); });
        return;
    }
    m_notice = nullptr;
    if (!notice) {
        qCWarning(lcUi) << "no notice came for" << name;
        m_ok = false;
        runNext();
        return;
    }
    m_subject = notice;
    QTimer::singleShot(m_settleMs, this, [this, name] {
        // Closing the notice lets its dialog finish and close as well.
        shoot(name);
        runNext();
    });
}

void ScreenshotTour::shoot(const QString& name)
{
    const QString path = m_folder.filePath(name + QStringLiteral(".png"));
    QWidget* subject = m_subject ? m_subject.data() : m_window;
    const bool saved = subject->grab().save(path);
    if (m_undo) {
        // The step's subject, if any, belongs to the page: it is put back, not closed.
        m_undo();
        m_undo = nullptr;
        m_subject = nullptr;
    }
    if (m_subject) {
        m_subject->close();
    }
    if (!saved) {
        qCWarning(lcUi) << "cannot write" << path;
        m_ok = false;
        return;
    }
    m_written << path;
}

void ScreenshotTour::clickFrame(const char* name)
{
    // The frames react to the press and release of the pointer, not to a click() of their own.
    auto* frame = m_window->findChild<QWidget*>(QLatin1String(name));
    if (!frame) {
        m_ok = false;
        return;
    }
    const QPoint centre = frame->rect().center();
    QMouseEvent press(QEvent::MouseButtonPress, centre, frame->mapToGlobal(centre), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(frame, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, frame->mapToGlobal(centre), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(frame, &release);
}

void ScreenshotTour::clickButton(QWidget* scope, const char* name)
{
    if (auto* button = scope->findChild<QAbstractButton*>(QLatin1String(name))) {
        button->click();
    } else {
        m_ok = false;
    }
}
