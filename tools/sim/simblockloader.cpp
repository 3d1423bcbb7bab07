#include "simblockloader.h"

#include <QFile>
#include <QTimer>

#include <cstdio>

SimBlockLoader::SimBlockLoader(QObject* parent) : QObject(parent), m_readyTimer(new QTimer(this))
{
    connect(m_readyTimer, &QTimer::timeout, this, &SimBlockLoader::prompt);
}

QByteArray SimBlockLoader::start()
{
    m_buffer.clear();
    m_image.clear();
    m_name.clear();
    m_expected = 1;
    m_prompts = 0;
    m_bad = 0;
    m_complete = false;
    // A loader that never gets ready leaves the program running: the instrument answers again at once.
    if (!m_noReady) {
        m_stage = Stage::Header;
        m_readyTimer->start(m_readyIntervalMs);
    }
    return "OK\r\nKX40 loader\r\nCzekam na plik\r\n";
}

void SimBlockLoader::prompt()
{
    if (m_stage != Stage::Header) {
        m_readyTimer->stop();
        return;
    }
    if (++m_prompts > MaxReadyPrompts) {
        leave(false);
        return;
    }
    emit output("C");
}

void SimBlockLoader::leave(bool complete)
{
    m_readyTimer->stop();
    m_stage = Stage::Idle;
    m_buffer.clear();
    m_complete = complete;
    if (complete && !m_imagePath.isEmpty()) {
        QFile file(m_imagePath);
        if (!file.open(QIODevice::WriteOnly) || file.write(m_image) != m_image.size()) {
            std::fprintf(stderr, "mervik-sim: cannot write the image to %s\n", qPrintable(m_imagePath));
        }
    }
    emit finished(complete);
}

QByteArray SimBlockLoader::feed(const QByteArray& bytes)
{
    QByteArray answer;
    m_buffer += bytes;
    while (isActive() && !m_buffer.isEmpty()) {
        const char first = m_buffer.at(0);
        if (m_stage == Stage::Data && first == Eot) {
            m_buffer.remove(0, 1);
            m_stage = Stage::Closing;
            answer += Ack;
            continue;
        }
        if (first != Stx) {
            // Noise between blocks, or the tail of a command line: a block starts with STX.
            m_buffer.remove(0, 1);
            continue;
        }
        if (m_buffer.size() < BlockSize) {
            break;
        }
        const QByteArray block = m_buffer.left(BlockSize);
        m_buffer.remove(0, BlockSize);
        answer += takeBlock(block);
    }
    return answer;
}

QByteArray SimBlockLoader::takeBlock(const QByteArray& block)
{
    const auto number = quint8(block.at(1));
    const QByteArray payload = block.mid(3, PayloadSize);
    if (quint8(number + quint8(block.at(2))) != 0xff || block.at(BlockSize - 2) != 0x01 ||
        block.at(BlockSize - 1) != 0x02) {
        ++m_bad;
        return QByteArray(1, Nak);
    }
    switch (m_stage) {
    case Stage::Header:
        if (number != 0) {
            ++m_bad;
            return QByteArray(1, Nak);
        }
        m_readyTimer->stop();
        m_name = payload.left(payload.indexOf('\0'));
        if (m_noAckFor == 0) {
            leave(false);
            return {};
        }
        m_stage = Stage::Data;
        return QByteArray(1, Ack);
    case Stage::Data:
        // A block sent again because its ACK was lost is acknowledged, not stored twice.
        if (number == quint8(m_expected - 1)) {
            return QByteArray(1, Ack);
        }
        if (number != quint8(m_expected) || m_expected > MaxImageBlocks) {
            ++m_bad;
            return QByteArray(1, Nak);
        }
        if (m_noAckFor == m_expected) {
            leave(false);
            return {};
        }
        m_image += payload;
        ++m_expected;
        return QByteArray(1, Ack);
    case Stage::Closing:
        if (number != 0 || payload.count('\0') != PayloadSize) {
            ++m_bad;
            return QByteArray(1, Nak);
        }
        leave(true);
        return QByteArray(1, Ack);
    case Stage::Idle:
        break;
    }
    return {};
}
