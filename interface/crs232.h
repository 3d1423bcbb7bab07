#pragma once

#include "interface/cinterface.h"

#include <QSerialPort>

// A serial port transport: 8 data bits, no parity, 1 stop bit, no flow control.
class CRS232 : public CInterface
{
    Q_OBJECT
public:
    // Text reads take at most this many bytes at once; the rest waits for the next read.
    static constexpr int MaxTextRead = 10000;

    CRS232(QString portName, int baudRate, QString portDescription, QObject* parent = nullptr);
    ~CRS232() override;

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
    QString openFailure() const override { return m_openFailure; }

    bool setBaudRate(int baudRate);
    int baudRate() const;
    QString portName() const;
    // The port's file: Qt names a port under /dev by its bare name.
    QString portPath() const;
    QString portDescription() const;

private:
    void onPortError(QSerialPort::SerialPortError error);
    void closeVanishedPort();
    void updateDescription();

    QSerialPort port;
    QString m_portDescription;
    // Copied into every log record, so built once per baud rate.
    QString m_description;
    // Set from the first port failure until the port is opened again, so a flood of errors
    // is handled (and reported) once.
    bool m_portFailed = false;
    QString m_openFailure;
};
