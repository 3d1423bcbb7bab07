#pragma once

#include <QObject>
#include <QString>
#include <QThread>

class QTimer;

// Copies the write-ahead log into the database file from a thread of its own. SQLite does it on the
// committing connection by default, and a checkpoint waits for the disk: the user-interface thread
// would stall for as long as the disk takes whenever the log has grown, a hundred milliseconds and
// more while results stream in. The default connection commits only; this one checkpoints (passive:
// it never holds up a writer) every IntervalMs.
class WalCheckpointer : public QObject
{
public:
    static constexpr int IntervalMs = 1000;

    // Takes over the checkpoints of the default connection's database file; when its own connection
    // cannot be opened, the default connection goes on checkpointing as before.
    WalCheckpointer();
    ~WalCheckpointer() override;

private:
    QThread m_thread;
    QObject* m_worker = nullptr;
    QString m_connection;
    bool m_active = false;
};
