#ifndef SIMPTY_H
#define SIMPTY_H

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// A pseudo-terminal whose slave side stands in for the instrument's serial port. The sim reads and writes
// the master side; the application opens the slave path like any serial port.
class SimPty : public QObject
{
    Q_OBJECT

public:
    explicit SimPty(QObject* parent = nullptr);
    ~SimPty() override;

    bool open(QString* error = nullptr);
    bool isOpen() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }

    // A symlink to the slave path, removed again when the pty is destroyed. An existing symlink at path is
    // replaced; any other file there is left alone and the call fails.
    bool createLink(const QString& path, QString* error = nullptr);

    // Bytes not written because nobody reads the slave side and its queue is full.
    qint64 droppedBytes() const { return m_droppedBytes; }

    // The speed the client set on the slave side (a pseudo-terminal keeps it without using it); 0 for a
    // speed outside the standard list.
    int lineSpeed() const;

public slots:
    void write(const QByteArray& bytes);
    void close();

signals:
    void received(const QByteArray& bytes);

private:
    void readMaster();

    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QString m_linkPath;
    QSocketNotifier* m_notifier = nullptr;
    qint64 m_droppedBytes = 0;
};

#endif // SIMPTY_H
