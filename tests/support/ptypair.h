#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// A pseudo-terminal whose slave side a serial transport opens; the test plays the instrument
// on the master side.
class PtyPair : public QObject
{
    Q_OBJECT
public:
    explicit PtyPair(QObject* parent = nullptr);
    ~PtyPair() override;

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    // Writes everything (blocking until the pty takes it); returns false on error.
    bool write(const QByteArray& bytes);
    // Everything the transport wrote so far.
    QByteArray received() const { return m_received; }
    // Closes the master side, as when the far end of the line disappears.
    void closeMaster();

signals:
    void dataReceived();

private:
    void onReadable();

    int m_master = -1;
    // Kept open so that the master sees no hang-up while the transport reopens the slave.
    int m_slaveKeeper = -1;
    QString m_slavePath;
    QByteArray m_received;
    QSocketNotifier* m_notifier = nullptr;
};
