#pragma once

#include "interface/cinterface.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <functional>

// A scripted transport: records every write, lets a test feed chunks and state changes, and can
// answer each written line through a responder, delivered from the event loop like real bytes.
class FakeInterface : public CInterface
{
    Q_OBJECT
public:
    // Returns the chunks to deliver, in order, after the line was written.
    using Responder = std::function<QList<QByteArray>(const QString& line)>;

    explicit FakeInterface(QObject* parent = nullptr);

    CInterface* clone(QObject* parent) override;
    bool open() override;
    bool write(const QString& text) override;
    bool write(const QByteArray& bytes) override;
    int read(QByteArray& bytes) override;
    bool waitAndRead(QString& text, int msecs) override;
    bool close() override;
    int read(QString& text) override;
    void clear() override;
    bool waitForReadyRead(int msecs) override;
    QString description() const override;

    // Queues bytes as if they had just arrived and emits readyRead.
    void feed(const QByteArray& chunk);
    // Delivers the chunks from the event loop, one per turn.
    void feedLater(const QList<QByteArray>& chunks);
    void setResponder(Responder responder) { m_responder = std::move(responder); }
    void setOpenResult(bool ok) { m_openResult = ok; }
    void emitState(int state) { emit stateChanged(state); }

    QStringList writtenLines() const { return m_written; }
    int clearCount() const { return m_clears; }
    bool isOpen() const { return m_open; }

    QString name = QStringLiteral("FAKE");

private:
    QByteArray m_pending;
    QStringList m_written;
    Responder m_responder;
    bool m_openResult = true;
    bool m_open = false;
    int m_clears = 0;
};
