#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>

class CDevice;

// Connects the instrument named on the command line at start-up, the way the direct connection does:
// echo test and identity first, then the device becomes the current one with the connection check on.
// Fixed installations rely on it.
class StartupConnecter : public QObject
{
    Q_OBJECT
public:
    struct Target
    {
        bool network = false;
        // A serial port path (or pseudo-terminal) and its baud rate.
        QString port;
        int baud = 9600;
        // HOST:PORT of an instrument on TCP.
        QHostAddress address;
        int tcpPort = 0;
        // An instrument of the three-letter dialect on the serial port: at busAddress, or (negative) at
        // the first of its factory's addresses that answers.
        bool threeLetter = false;
        int busAddress = -1;

        QString text() const;
    };

    // PORT, PORT@BAUD or HOST:PORT; false for anything else.
    static bool parseTarget(const QString& text, Target& target);
    // line, three-letter or three-letter:ADDRESS (0 to 32); false for anything else.
    static bool parseProtocol(const QString& text, Target& target);

    explicit StartupConnecter(const Target& target, QObject* parent = nullptr);
    ~StartupConnecter() override;

    // The connected instrument; null until connect() succeeded.
    CDevice* device() const { return m_device; }

public slots:
    bool connectNow();

signals:
    // Each device object tried, before it is used, so that its traffic can be followed.
    void candidateCreated(CDevice* device);
    void finished(bool connected);
    void note(const QString& text);

private:
    bool probe(CDevice* candidate);

    Target m_target;
    CDevice* m_device = nullptr;
};
