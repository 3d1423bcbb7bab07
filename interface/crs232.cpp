#include "interface/crs232.h"

#include "platform/logcategories.h"
#include "platform/queuedcall.h"
#include "platform/serialports.h"

#include <QElapsedTimer>
#include <QThread>

#include <cerrno>
#include <unistd.h>

CRS232::CRS232(QString portName, int baudRate, QString portDescription, QObject* parent)
    : CInterface(parent), port(portName, this), m_portDescription(std::move(portDescription))
{
    port.setBaudRate(baudRate, QSerialPort::AllDirections);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    updateDescription();
    connect(&port, &QSerialPort::readyRead, this, &CInterface::readyRead);
    connect(&port, &QSerialPort::errorOccurred, this, &CRS232::onPortError);
}

CRS232::~CRS232() = default;

CInterface* CRS232::clone(QObject* parent)
{
    return new CRS232(port.portName(), port.baudRate(), m_portDescription, parent);
}

bool CRS232::open()
{
    m_portFailed = false;
    const bool isOpen = port.open(QIODevice::ReadWrite);
    qCDebug(lcInterface) << "isOpen=" << isOpen << QThread::currentThread() << description();
    m_openFailure.clear();
    if (!isOpen) {
        m_openFailure = portPath() + QStringLiteral(" cannot be opened: ") + port.errorString();
    }
    if (!isOpen && port.error() == QSerialPort::PermissionError) {
        // Also refused when another program holds the port; the rights are told only when they are why.
        const QString problem = SerialPorts::permissionProblem(port.portName());
        if (!problem.isEmpty()) {
            qCWarning(lcInterface).noquote() << problem;
            m_openFailure = problem;
        }
    }
    emit stateChanged(isOpen ? StateConnected : StateDisconnected);
    return isOpen;
}

bool CRS232::write(const QString& text)
{
    return write(text.toUtf8());
}

bool CRS232::write(const QByteArray& bytes)
{
    if (!port.isOpen() || bytes.isEmpty()) {
        return true;
    }
    // Hand the bytes to the driver at once; only what it does not take waits in the port's
    // buffer for the event loop (which costs a notifier round and a wake-up per command).
    qint64 written = 0;
    if (port.bytesToWrite() == 0 && port.handle() >= 0) {
        ssize_t n;
        do {
            n = ::write(port.handle(), bytes.constData(), size_t(bytes.size()));
        } while (n < 0 && errno == EINTR);
        written = n > 0 ? n : 0;
    }
    if (written < bytes.size()) {
        port.write(bytes.constData() + written, bytes.size() - written);
    }
    return true;
}

int CRS232::read(QByteArray& bytes)
{
    bytes = port.readAll();
    return bytes.size();
}

bool CRS232::waitAndRead(QString& text, int msecs)
{
    Q_UNUSED(text)
    Q_UNUSED(msecs)
    return false;
}

bool CRS232::close()
{
    QElapsedTimer elapsed;
    elapsed.start();
    port.close();
    qCDebug(lcInterface) << description() << "ms=" << elapsed.elapsed();
    emit stateChanged(StateDisconnected);
    return true;
}

int CRS232::read(QString& text)
{
    text.clear();
    if (!port.isOpen()) {
        return -1;
    }
    const QByteArray bytes = port.read(MaxTextRead);
    text = textFromBytes(bytes);
    return bytes.size();
}

void CRS232::clear()
{
    if (port.isOpen()) {
        port.readAll();
    }
}

bool CRS232::waitForReadyRead(int msecs)
{
    // Qt waits for ever on a negative time; here it means no wait at all.
    return port.waitForReadyRead(qMax(0, msecs));
}

QString CRS232::description() const
{
    return m_description;
}

void CRS232::updateDescription()
{
    // A port the system gives no description for shows its rate alone, not after a stray comma.
    const QString place = m_portDescription.isEmpty() ? QString() : m_portDescription + QStringLiteral(",");
    m_description = port.portName() + QStringLiteral(" (") + place + QString::number(port.baudRate()) +
                    QStringLiteral(")");
}

bool CRS232::setBaudRate(int baudRate)
{
    port.setBaudRate(baudRate, QSerialPort::AllDirections);
    updateDescription();
    return true;
}

int CRS232::baudRate() const
{
    return port.baudRate();
}

QString CRS232::portName() const
{
    return port.portName();
}

QString CRS232::portPath() const
{
    const QString name = port.portName();
    return name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
}

QString CRS232::portDescription() const
{
    return m_portDescription;
}

void CRS232::onPortError(QSerialPort::SerialPortError error)
{
    // A pulled adapter shows up as a resource error, or (pseudo-terminals, some drivers) as a
    // flood of read errors: either way the port is gone and the transport is closed.
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError) {
        return;
    }
    if (!port.isOpen() || m_portFailed) {
        return;
    }
    m_portFailed = true;
    qCWarning(lcInterface) << description() << "port lost:" << port.errorString();
    // Closing from inside the port's own notification is unsafe; close once control is back.
    queueCall(this, [this] { closeVanishedPort(); });
}

void CRS232::closeVanishedPort()
{
    if (port.isOpen()) {
        close();
    }
}
