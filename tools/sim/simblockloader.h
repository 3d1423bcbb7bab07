#ifndef SIMBLOCKLOADER_H
#define SIMBLOCKLOADER_H

#include <QByteArray>
#include <QObject>
#include <QString>

class QTimer;

// The firmware loader of a three-letter instrument. Started by "ZFI", it asks for the image with a
// "C" now and then, takes a header block 0, data blocks 1, 2, ... (modulo 256) and the end mark EOT,
// then a closing block 0, acknowledging each with ACK, and runs the instrument's program again. Blocks
// are STX, number, its complement, 1024 bytes and the two bytes 0x01 0x02. The image is kept as received,
// 1024 bytes a block.
class SimBlockLoader : public QObject
{
    Q_OBJECT

public:
    static constexpr int PayloadSize = 1024;
    static constexpr int BlockSize = PayloadSize + 5;
    // After this many "C" without a header the loader gives up and the program runs again.
    static constexpr int MaxReadyPrompts = 10;
    static constexpr int MaxImageBlocks = 65536;
    static constexpr char Stx = 0x02;
    static constexpr char Eot = 0x04;
    static constexpr char Ack = 0x06;
    static constexpr char Nak = 0x15;

    explicit SimBlockLoader(QObject* parent = nullptr);

    // How often "C" is sent while the loader waits for the header.
    void setReadyInterval(int ms) { m_readyIntervalMs = qMax(1, ms); }
    // Faults: block n (0 the header) is taken but never acknowledged, and the loader quits; or the
    // loader answers "ZFI" and never gets ready.
    void setNoAckFor(int block) { m_noAckFor = block; }
    void setNoReady(bool on) { m_noReady = on; }
    // Where a complete image is written; empty keeps it in memory only.
    void setImagePath(const QString& path) { m_imagePath = path; }

    bool isActive() const { return m_stage != Stage::Idle; }
    // The answer to "ZFI".
    QByteArray start();
    // Bytes from the host while active; returns the answer bytes.
    QByteArray feed(const QByteArray& bytes);

    // The last image received in full (or so far), its name from the header, and counts.
    QByteArray image() const { return m_image; }
    QByteArray imageName() const { return m_name; }
    bool isComplete() const { return m_complete; }
    int badBlocks() const { return m_bad; }
    int readyPrompts() const { return m_prompts; }

signals:
    // "C" while waiting for the header.
    void output(const QByteArray& bytes);
    void finished(bool complete);

private:
    enum class Stage
    {
        Idle,
        Header,
        Data,
        Closing
    };

    QByteArray takeBlock(const QByteArray& block);
    void prompt();
    void leave(bool complete);

    Stage m_stage = Stage::Idle;
    QTimer* m_readyTimer = nullptr;
    int m_readyIntervalMs = 1000;
    int m_noAckFor = -1;
    bool m_noReady = false;
    QString m_imagePath;
    QByteArray m_buffer;
    QByteArray m_image;
    QByteArray m_name;
    int m_expected = 1;
    int m_prompts = 0;
    int m_bad = 0;
    bool m_complete = false;
};

#endif // SIMBLOCKLOADER_H
