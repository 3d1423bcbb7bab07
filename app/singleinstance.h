#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;

// One program per user and data folder. A second start asks the first to come to the front and
// ends: the user meant the window already open, and two windows on one data feed only confuse.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    // How long a second start waits for the first to listen and to answer.
    static constexpr int AnswerMs = 5000;
    // How long it waits for the answer once the first took its call: a first still starting (its
    // window built, a large feed opened) answers only then, and giving up on it would put a second
    // program on the same data.
    static constexpr int StartingAnswerMs = 60000;
    static const char* const LockFileName;

    enum class Role
    {
        // This program holds the folder and listens for later starts.
        First,
        // Another program holds the folder and has been asked to come to the front.
        Second,
        // Neither could be done (a folder that cannot be written, a first that does not answer):
        // the program runs as it would without the check.
        Alone
    };

    explicit SingleInstance(const QString& dataFolder, QObject* parent = nullptr);
    ~SingleInstance() override;

    Role claim();

    // The local socket's name: per user, since the folder lies in the user's home, and per folder.
    static QString serverName(const QString& dataFolder);

signals:
    void frontRequested();

private:
    bool askFirst();
    void onConnection();
    void onRequest(QLocalSocket* socket);

    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
};
