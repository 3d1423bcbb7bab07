#pragma once

#include "device/devicetypes.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVector>

class InstrumentSession;
class QCoreApplication;

// mervik-cli's data services: alibi memory, users and products tables, clock, message, EEPROM,
// compensation and firmware, each through the balance controller as the program's pages use them.
// Everything the command line gives is checked by prepare(), before the instrument is reached.
class DataJob
{
public:
    struct Options
    {
        QString csv;
        QString set;
        bool setGiven = false;
        bool now = false;
        QString get;
        bool getGiven = false;
        QString seconds;
        bool secondsGiven = false;
        // firmware: the image is sent as it is (the block loader), not as S-records.
        bool rawFirmware = false;
        // users, products: a file without records empties the instrument's table.
        bool allowEmpty = false;
    };

    static bool handles(const QString& command);
    // The positional arguments command takes, itself and PLACE included.
    static int argumentCount(const QString& command);

    // Reads and checks the files and values; returns an exit code, with the message in error.
    int prepare(const QString& command, const QStringList& arguments, const Options& options, QString& error);
    // Runs the prepared request on the session's instrument; prints and returns the exit code.
    int run(QCoreApplication& app, InstrumentSession& session);

    // A CSV table: the header names the fields (any order), comma or semicolon separated, quoted
    // fields allowed. Returns false with "FILE line N: ..." in error.
    static bool readUsers(const QString& path, QVector<UserRecord>* users, QString& error);
    static bool readProducts(const QString& path, QVector<ProductRecord>* products, QString& error);

private:
    int runAlibi();
    int runTable();
    int runClock();
    int runMessage();
    int runEepromGet(QCoreApplication& app);
    int runEepromSet();
    int runCompensation();
    int runFirmware();

    QString m_command;
    QString m_file;
    QString m_csv;
    QString m_text;
    int m_seconds = 5;
    bool m_set = false;
    bool m_rawFirmware = false;
    QDateTime m_clock;
    QVector<UserRecord> m_users;
    QVector<ProductRecord> m_products;
    QVariantList m_compensation;
};
