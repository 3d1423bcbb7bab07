#ifndef SIMBOOTLOADER_H
#define SIMBOOTLOADER_H

#include <QByteArray>

class QCommandLineParser;

// The instrument's bootloader: entered by "Sfirmwupd", it takes an S-record image line by line at
// 115200 baud, answers "f1" to every good record and "f3" to the closing one, and then runs the
// instrument's program again.
class SimBootloader
{
public:
    static constexpr int BaudRate = 115200;

    static void addOptions(QCommandLineParser& parser);
    bool configure(const QCommandLineParser& parser, QString* error);

    // No answer from image line n (1-based) on; 0 never.
    void setSilentFrom(int line) { m_silentFrom = line; }
    // Answer the closing record like any other: the upload never hears it has finished.
    void setNoFinish(bool on) { m_noFinish = on; }

    bool isActive() const { return m_active; }
    // The answer to "Sfirmwupd"; the bootloader takes the following lines.
    QByteArray start();
    QByteArray handleLine(const QByteArray& line);

    int linesReceived() const { return m_lines; }
    int badRecords() const { return m_bad; }

private:
    static bool recordIsGood(const QByteArray& record);

    int m_silentFrom = 0;
    bool m_noFinish = false;
    bool m_active = false;
    int m_lines = 0;
    int m_bad = 0;
};

#endif // SIMBOOTLOADER_H
