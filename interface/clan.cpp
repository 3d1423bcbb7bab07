#include "interface/clan.h"

#include "platform/logcategories.h"

CLAN::CLAN(QHostAddress address, int port, QObject* parent)
    : CInterface(parent), socket(this), m_address(std::move(address)), m_port(port)
{
    m_description = QStringLiteral("LAN (") + m_address.toString() + QLatin1Char(',') +
                    QString::number(m_port) + QLatin1Char(')');
    connect(&socket, &QTcpSocket::readyRead, this, &CInterface::readyRead);
}

CLAN::~CLAN() = default;

CInterface* CLAN::clone(QObject* parent)
{
    return new CLAN(m_address, m_port, parent);
}

bool CLAN::open()
{
    disconnect(&socket, &QTcpSocket::disconnected, this, &CLAN::onDisconnected);
    socket.connectToHost(m_address, quint16(m_port), QIODevice::ReadWrite);
    const bool connected = socket.waitForConnected(ConnectTimeoutMs);
    m_openFailure.clear();
    if (!connected) {
        const QString place = m_address.toString() + QLatin1Char(':') + QString::number(m_port);
        switch (socket.error()) {
        case QAbstractSocket::ConnectionRefusedError:
            m_openFailure = QStringLiteral("connection refused by ") + place;
            break;
        case QAbstractSocket::SocketTimeoutError:
            m_openFailure =
                QStringLiteral("no connection to %1 within %2 s").arg(place).arg(ConnectTimeoutMs / 1000);
            break;
        default:
            m_openFailure = place + QStringLiteral(": ") + socket.errorString();
        }
        // A connect still under way would otherwise complete later, unnoticed by the device.
        socket.abort();
    } else {
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    }
    qCDebug(lcInterface) << description() << "connected=" << connected;
    emit stateChanged(connected ? StateConnected : StateDisconnected);
    connect(&socket, &QTcpSocket::disconnected, this, &CLAN::onDisconnected, Qt::UniqueConnection);
    return connected;
}

void CLAN::onDisconnected()
{
    emit stateChanged(StateDisconnected);
}

bool CLAN::write(const QString& text)
{
    return write(text.toUtf8());
}

bool CLAN::write(const QByteArray& bytes)
{
    // Bytes for a connection that is not there are lost; say so rather than claim success.
    if (socket.state() != QAbstractSocket::ConnectedState) {
        return false;
    }
    return socket.write(bytes) == bytes.size();
}

int CLAN::read(QByteArray& bytes)
{
    const QByteArray chunk = socket.read(MaxRead);
    // Every byte counts: a NUL inside a chunk is data (or noise the text read drops), never its end.
    bytes = chunk;
    return chunk.size();
}

bool CLAN::waitAndRead(QString& text, int msecs)
{
    if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(qMax(0, msecs))) {
        return false;
    }
    read(text);
    return true;
}

bool CLAN::close()
{
    disconnect(&socket, &QTcpSocket::disconnected, this, &CLAN::onDisconnected);
    if (socket.state() != QAbstractSocket::UnconnectedState) {
        socket.disconnectFromHost();
        if (socket.state() != QAbstractSocket::UnconnectedState &&
            !socket.waitForDisconnected(DisconnectTimeoutMs)) {
            qCWarning(lcInterface) << description() << "disconnection did not complete";
            emit stateChanged(StateConnected);
            return false;
        }
    }
    emit stateChanged(StateDisconnected);
    return true;
}

int CLAN::read(QString& text)
{
    QByteArray bytes;
    const int count = read(bytes);
    text = textFromBytes(bytes);
    return count;
}

void CLAN::clear()
{
    socket.readAll();
}

bool CLAN::waitForReadyRead(int msecs)
{
    // Qt waits for ever on a negative time; here it means no wait at all.
    return socket.waitForReadyRead(qMax(0, msecs));
}

QString CLAN::description() const
{
    return m_description;
}
