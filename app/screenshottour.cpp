#include "app/screenshottour.h"

#include "controller/applicationcontroller.h"
#include "controller/ccontrollerinterface.h"
#include "device/cdevice.h"
#include "interface/ctibbo.h"
#include "log/datafeedtableview.h"
#include "platform/logcategories.h"
#include "platform/qwinwidget.h"
#include "ui/devicewidget.h"
#include "ui/interfacedialog.h"
#include "ui/mainwindow.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QTableWidget>
#include <QTimer>

namespace {
// A network instrument as a search lists it when its module's settings keep it out of reach (its
// address outside the computer's subnet). Made up for the pictures: nothing is sent to it.
CDevice* unreachableInstrument(QObject* parent)
{
    auto* device = new CDevice(parent);
    const QHostAddress moduleAddress(QStringLiteral("10.0.7.50"));
    auto* module = new CTibbo(QHostAddress(QStringLiteral("192.168.1.20")), 0xffffff00u,
                              QByteArrayLiteral("0.36.119.3.65.7"), moduleAddress, device);
    module->setPlannedSettings(false, CInterfaceModule::ROUTING_SERVER,
                               QHostAddress(QStringLiteral("10.0.7.1")),
                               QHostAddress(QStringLiteral("255.255.255.0")), CInterfaceModule::PROTOCOL_TCP);
    device->setModule(module);
    device->setLAN(moduleAddress, 1001);
    device->isReachable();
    return device;
}
} // namespace

ScreenshotTour::ScreenshotTour(QWinWidget* window, const QString& folder, QObject* parent)
    : QObject(parent), m_window(window), m_folder(folder)
{
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
    m_window->resize(m_window->minimumSize());
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
                 {"terminalButton", "data-capture-terminal"}};
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
    if (!anyView) {
        add(QStringLiteral("data-capture"), [this, main] { clickButton(main, "dataCaptureButton"); });
    }
    add(QStringLiteral("transfer"), [this, main] { clickButton(main, "transferButton"); });

    // The first view waits for the warm-up results as well.
    QTimer::singleShot(WarmUpRequests * WarmUpIntervalMs, this, &ScreenshotTour::runNext);
}

void ScreenshotTour::addDeviceViews(MainWindow* main)
{
    auto* page = main->findChild<DeviceWidget*>();
    if (!page) {
        return;
    }
    add(QStringLiteral("device-find"), [this, page] {
        CDevice* current = CControllerInterface::currentDevice();
        if (current) {
            page->onNewDevice(current);
        }
        page->onNewDevice(unreachableInstrument(this));
        page->onNewLog(QStringLiteral("Searching serial ports and networks...\n"));
        if (current) {
            page->onNewLog(current->interfaceDescription() + QStringLiteral(": ") + current->model() +
                           QStringLiteral("\n"));
        }
        page->searchFinished();
        page->findChild<QTableWidget*>(QStringLiteral("tableDevices"))->selectRow(0);
    });
    add(QStringLiteral("device-serial"), [this, page] { clickButton(page, "usbButton"); });
    add(QStringLiteral("device-network"), [this, page] {
        clickButton(page, "ethButton");
        page->findChild<QLineEdit*>(QStringLiteral("scaleIPBox"))->setText(QStringLiteral("192.168.1.140"));
    });
    // With its starting values: the instrument of these pictures has no network module.
    addDialog(QStringLiteral("interface-dialog"), [page] { return new InterfaceDialog(page); });
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
    QTimer::singleShot(SettleMs, this, [this, name] {
        shoot(name);
        runNext();
    });
}

void ScreenshotTour::shoot(const QString& name)
{
    const QString path = m_folder.filePath(name + QStringLiteral(".png"));
    QWidget* subject = m_subject ? m_subject.data() : m_window;
    const bool saved = subject->grab().save(path);
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
