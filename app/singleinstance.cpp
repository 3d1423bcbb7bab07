#include "app/singleinstance.h"

#include "platform/logcategories.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>

#include <algorithm>

namespace {
const QByteArray FrontRequest = QByteArrayLiteral("front\n");
const QByteArray FrontAnswer = QByteArrayLiteral("ok\n");
// Longer than any request: a stranger's stream is cut off.
constexpr int LongestRequest = 64;
// Between tries to reach a first program that holds the lock but does not listen yet.
constexpr int ConnectPauseMs = 50;
} // namespace

const char* const SingleInstance::LockFileName = "mervik-connect.lock";

SingleInstance::SingleInstance(const QString& dataFolder, QObject* parent)
    : QObject(parent), m_folder(dataFolder)
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::serverName(const QString& dataFolder)
{
    const QString folder = QFileInfo(dataFolder).absoluteFilePath();
    // A name, not a path: the socket goes into the temporary folder, where a path's length is no matter.
    return QStringLiteral("mervik-connect-") +
           QString::fromLatin1(
               QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
}

SingleInstance::Role SingleInstance::claim()
{
    if (!QDir().mkpath(m_folder)) {
        return Role::Alone;
    }
    m_lock = std::make_unique<QLockFile>(QDir(m_folder).filePath(QLatin1String(LockFileName)));
    // Stale only when its holder is gone, however long a program runs.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) {
        const QString name = serverName(m_folder);
        m_server = new QLocalServer(this);
        m_server->setSocketOptions(QLocalServer::UserAccessOption);
        // The lock is ours: a socket of that name was left by a program that died.
        QLocalServer::removeServer(name);
        if (!m_server->listen(name)) {
            qCWarning(lcUi) << "later starts cannot reach this program:" << m_server->errorString();
        }
        connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::onConnection);
        return Role::First;
    }
    if (m_lock->error() != QLockFile::LockFailedError) {
        qCWarning(lcUi) << "no lock in" << m_folder << "- another program there is not looked for";
        return Role::Alone;
    }
    if (askFirst()) {
        return Role::Second;
    }
    qCWarning(lcUi) << "the program that holds" << m_folder << "does not answer; starting beside it";
    return Role::Alone;
}

bool SingleInstance::askFirst()
{
    QElapsedTimer timer;
    timer.start();
    const auto left = [&timer] { return int(std::max<qint64>(0, AnswerMs - timer.elapsed())); };
    QLocalSocket socket;
    // The first takes the lock a moment before it listens.
    for (;;) {
        socket.connectToServer(serverName(m_folder));
        if (socket.waitForConnected(left())) {
            break;
        }
        if (left() == 0) {
            return false;
        }
        QThread::msleep(ConnectPauseMs);
    }
    socket.write(FrontRequest);
    if (!socket.waitForBytesWritten(left())) {
        return false;
    }
    // A first that is gone closes the call at once; one that is starting answers when it can.
    timer.start();
    const auto answerLeft = [&timer] { return int(std::max<qint64>(0, StartingAnswerMs - timer.elapsed())); };
    while (socket.bytesAvailable() < FrontAnswer.size() && answerLeft() > 0) {
        if (!socket.waitForReadyRead(answerLeft())) {
            break;
        }
    }
    return socket.readAll() == FrontAnswer;
}

void SingleInstance::onConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { onRequest(socket); });
    }
}

void SingleInstance::onRequest(QLocalSocket* socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > LongestRequest) {
            socket->abort();
        }
        return;
    }
    if (socket->readLine(LongestRequest) == FrontRequest) {
        socket->write(FrontAnswer);
        socket->flush();
        emit frontRequested();
    }
    socket->disconnectFromServer();
}
