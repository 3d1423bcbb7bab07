#pragma once

#include <QObject>
#include <QString>

class QByteArray;

// One byte transport to an instrument. The device opens and closes it, writes lines, reads chunks
// and listens to readyRead and stateChanged; it never touches the underlying Qt objects.
class CInterface : public QObject
{
    Q_OBJECT
public:
    enum State
    {
        StateConnected = 1,
        StateDisconnected = 2,
        StateListening = 3
    };

    explicit CInterface(QObject* parent = nullptr);

    // A new, closed transport of the same kind with the same parameters.
    virtual CInterface* clone(QObject* parent) = 0;
    // Emits exactly one stateChanged before returning.
    virtual bool open() = 0;
    virtual bool write(const QString& text) = 0;
    virtual bool write(const QByteArray& bytes) = 0;
    virtual int read(QByteArray& bytes) = 0;
    virtual bool waitAndRead(QString& text, int msecs) = 0;
    // Emits exactly one stateChanged before returning.
    virtual bool close() = 0;
    virtual int read(QString& text) = 0;
    // Drops every waiting byte, so that the next answer read belongs to the next command.
    virtual void clear() = 0;
    virtual bool waitForReadyRead(int msecs) = 0;
    // Stable while the transport lives; copied into every log record.
    virtual QString description() const = 0;
    // Why the last open() failed, in words a user can act on; empty when it did not fail or the
    // transport cannot tell.
    virtual QString openFailure() const { return QString(); }

    static QString stateName(int state);
    // Received bytes as text. NUL bytes (line noise, some printers' padding) are dropped and
    // everything around them kept: a NUL must never cut off the rest of a chunk.
    static QString textFromBytes(QByteArray bytes);

signals:
    void readyRead();
    void stateChanged(int state);
};
