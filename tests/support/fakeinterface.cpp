#include "support/fakeinterface.h"

#include <QTimer>

FakeInterface::FakeInterface(QObject* parent) : CInterface(parent) {}

CInterface* FakeInterface::clone(QObject* parent)
{
    auto* copy = new FakeInterface(parent);
    copy->name = name;
    return copy;
}

bool FakeInterface::open()
{
    m_open = m_openResult;
    emit stateChanged(m_open ? StateConnected : StateDisconnected);
    return m_open;
}

bool FakeInterface::write(const QString& text)
{
    m_written.append(text);
    if (m_responder) {
        feedLater(m_responder(text));
    }
    return true;
}

bool FakeInterface::write(const QByteArray& bytes)
{
    return write(QString::fromUtf8(bytes));
}

int FakeInterface::read(QByteArray& bytes)
{
    bytes = m_pending;
    m_pending.clear();
    return bytes.size();
}

bool FakeInterface::waitAndRead(QString&, int)
{
    return false;
}

bool FakeInterface::close()
{
    m_open = false;
    emit stateChanged(StateDisconnected);
    return true;
}

int FakeInterface::read(QString& text)
{
    QByteArray bytes;
    const int n = read(bytes);
    text = textFromBytes(bytes);
    return n;
}

void FakeInterface::clear()
{
    ++m_clears;
    m_pending.clear();
}

bool FakeInterface::waitForReadyRead(int)
{
    return !m_pending.isEmpty();
}

QString FakeInterface::description() const
{
    return name;
}

void FakeInterface::feed(const QByteArray& chunk)
{
    m_pending += chunk;
    emit readyRead();
}

void FakeInterface::feedLater(const QList<QByteArray>& chunks)
{
    for (const QByteArray& chunk : chunks) {
        QTimer::singleShot(0, this, [this, chunk] { feed(chunk); });
    }
}
