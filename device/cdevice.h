#pragma once

#include "device/devicetypes.h"
#include "log/pelmlogrecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <atomic>

class CDatabase;
class CInterface;
class CInterfaceModule;
class QThread;
class QTimer;

// One weighing instrument as the rest of the program sees it: its transport, identity, state,
// busy flag and the command engine that runs request/answer exchanges in the device's own thread.
class CDevice : public QObject
{
    Q_OBJECT
public:
    static constexpr int CheckPeriodMs = 5500;
    static constexpr int ActivityWindowMs = 2000;
    static constexpr int DelayedCommandMs = 50;
    static constexpr int CheckTimeoutMs = 2000;
    static constexpr int CheckAttempts = 3;
    static constexpr int ResultTimeoutMs = 2000;
    static constexpr int ResultAttempts = 3;
    static constexpr int TareTimeoutMs = 1500;
    static constexpr int TareAttempts = 2;
    static constexpr int EchoTimeoutMs = 300;
    static constexpr int InfoTimeoutMs = 666;
    static constexpr int ChunksPerLine = 17;
    // Text without a line feed kept for the next chunk; an instrument that never ends its line
    // must not grow it without bound.
    static constexpr int MaxReceiveBuffer = 64 * 1024;

    // Alibi memory reading and firmware upload.
    static constexpr int AlibiTimeoutMs = 2000;
    static constexpr int AlibiAttempts = 3;
    static constexpr int AlibiStopAttempts = 2;
    static constexpr int AlibiStartLines = 5;
    static constexpr int AlibiMaxRepeats = 3;
    static constexpr int FirmwareStartTimeoutMs = 1500;
    static constexpr int FirmwareStartAttempts = 2;
    static constexpr int FirmwareLineTimeoutMs = 2500;
    static constexpr int FirmwareLineAttempts = 2;
    static constexpr int FirmwareBaudRate = 115200;
    static constexpr int FirmwareBaudSettleMs = 100;
    static constexpr qint64 MaxFirmwareFileSize = 64 * 1024 * 1024;

    // One answer to a record request: a record, the last-record marker, or both.
    struct AlibiAnswer
    {
        bool parsed = false;
        // The answer held the last-record marker.
        bool last = false;
        // Nothing but the marker: no record was sent with it.
        bool markerOnly = false;
        // Why the record was not taken: the first field out of its form, or the field count.
        QString fault;
        // Parsed, but an identifier holds a mark that a garbled line could have put there.
        bool confirm = false;
        AlibiRecord record;
    };
    static AlibiAnswer parseAlibiAnswer(QString answer);
    // How many records the start answer says the memory holds, from its first and last record
    // numbers; -1 when it does not say.
    static int reportedRecords(const QStringList& startPieces);

    explicit CDevice(QObject* parent = nullptr);
    ~CDevice() override;

    virtual CDevice* clone(QObject* parent);
    virtual QString interfaceDescription() const;
    virtual bool setBaudRate(int baudRate);
    virtual QString typeName() const;
    // True for instruments behind a bus address, of which one serial line may hold several.
    virtual bool sharesLine() const { return false; }
    virtual bool checkCommunication(int result);
    virtual void send(const QString& line);
    virtual bool parseResult(const QString& line, Measurement& m, bool withStability);
    virtual void processLine(const QString& line);

    void sendBytes(const QByteArray& bytes);

    int state() const { return m_state; }
    int previousState() const { return m_previousState; }
    void setPreviousState(int state) { m_previousState = state; }
    bool busy() const { return m_busy; }
    bool isBusy() const { return m_busy || recentlyActive(); }
    CInterface* interface() const { return m_interface; }
    // The network module of an instrument found on the network; null for serial instruments.
    CInterfaceModule* module() const { return m_module; }
    // Takes the module as a child (deleting a previous one of ours); null removes it.
    void setModule(CInterfaceModule* module);
    QString model() const { return m_model; }
    QString serialNumber() const { return m_serialNumber; }
    QString productionDate() const { return m_productionDate; }
    QString firmware() const { return m_firmware; }
    void info(QString& model, QString& serialNumber, QString& productionDate, QString& firmware) const;
    QString lastSent() const { return m_lastSent; }
    QString lastAnswer() const { return m_lastAnswer; }
    bool checkConnection() const { return m_checkConnection; }
    int baudRate() const;
    int currentCommand() const { return m_currentCommand; }
    int deviceType() const { return m_deviceType; }
    QString commandName(int command) const;
    QString currentCommandName() const { return commandName(m_currentCommand); }
    static QString resultName(int result);
    static QString stateName(int state);
    QString reasonText() const;
    QList<int> unreachableReasons() const { return m_unreachableReasons; }
    bool isReachable();
    // The same judgement for the settings held by module (planned settings, for example).
    bool isReachable(CInterfaceModule* module);

    // Also move or re-parent the transport, the module and the activity timer along with the device.
    void moveToThread(QThread* thread);
    void setParent(QObject* parent);

    void setRS232(QString portName, QString portDescription, int baudRate);
    void setLAN(QHostAddress address, int port);
    // mac in the form the servers pool compares (six lower-case hex groups joined by "-").
    void setLANServer(QHostAddress address, int port, QByteArray mac);
    // The TCP transport that the module's settings call for: a server awaiting a module that
    // connects as a client, else a client of the module's own server. False without a module.
    bool setTransportFromModule();

    static QString reasonText(int reason);

    // The caller will ask for this many more results of the kind it asks for now, each at once after
    // the one before. Each of those requests goes out as soon as the answer before it is complete, so
    // that the instrument prepares its next answer while this one is handled; there is still one
    // request in flight at a time. An answer that no request of the caller's comes to take is
    // dispatched as a result the instrument sent by itself.
    void setResultsAhead(int count) { m_resultsAhead = qMax(0, count); }
    // No more results are asked for: the answer to a request already sent ahead is waited for and
    // dispatched as a result the instrument sent.
    void finishResultsAhead();

public slots:
    bool connectDevice(bool checkConnection = true);
    void disconnectDevice();
    void setCheckConnection(bool checkConnection);
    virtual QString stableResult();
    virtual QString result();
    virtual QString resultWithStb();
    virtual bool tare();
    virtual bool zero();
    virtual bool checkEcho();
    virtual bool readInfo();
    virtual bool minTHR(float masa);
    virtual bool maxTHR(float masa);
    virtual bool zeroTHR(float masa);
    // Data exchange with the instrument: EEPROM image, compensation table, message, clock and the
    // users and products tables.
    virtual bool setEEPROM(QString filePath);
    virtual bool getEEPROM();
    virtual bool getCompensation();
    virtual bool setCompensation(QVariantList values);
    bool message(QString message, int time_sek);
    bool setUsers(QVector<UserRecord> users);
    bool setProducts(QVector<ProductRecord> products);
    bool setDateTime(QDateTime dt);
    QDateTime getDateTime();
    virtual void sendSI();
    virtual void sendSx1();
    virtual void sendSx3();
    virtual void sendST();
    virtual void sendSZ();
    virtual void sendSS();
    virtual void sendSJ();
    virtual void sendSW9();
    void sendString(QString string);
    bool readAlibiMemory();
    bool stopReadingAlibiMemory();
    virtual bool sendNewFirmware(QString new_firmware_path);

signals:
    void commandFinished(int result, int command, QVariant response = QVariant(),
                         QVariant param1 = QVariant(), QVariant param2 = QVariant(),
                         QVariant param3 = QVariant(), QVariant param4 = QVariant());
    void sendingFirmwareProgress(int progress);
    void sendingFirmwareFinished(int result);
    // Why an upload failed and the state it leaves the instrument in; comes just before
    // sendingFirmwareFinished(0).
    void sendingFirmwareFailed(QString reason);
    void readingAlibiFinished(int result);
    void readingAlibiProgress(int count, int progress, AlibiRecord record);
    // The reading ended as announced, yet the instrument reports more records; comes just before
    // readingAlibiFinished(1).
    void readingAlibiWarning(QString warning);
    void lineReceived(QString line);
    void resultReceived(Measurement m);
    void eepromReceived(QString line);
    void readingEEPROMFinished(int result);
    void stateChanged(int state);
    void busyChanged(bool busy);
    void newOutLog(PelmLogRecord r);
    void newInLog(PelmLogRecord r);

protected:
    virtual void init();
    // An empty result that names this instrument as its sender.
    Measurement newMeasurement() const;
    void adoptInterface(CInterface* transport);
    void timerEvent(QTimerEvent* event) override;

    // Returns true in the device's own thread; elsewhere re-posts the slot by name with the same
    // arguments and returns false, so the outcome reaches the caller only through signals.
    bool threadGuard(const char* method, QGenericArgument a1 = QGenericArgument(),
                     QGenericArgument a2 = QGenericArgument(), QGenericArgument a3 = QGenericArgument());
    bool canSendNextCommand(int command, const char* method, QGenericArgument a1 = QGenericArgument(),
                            QGenericArgument a2 = QGenericArgument(),
                            QGenericArgument a3 = QGenericArgument());
    bool waitForResponse(QString& text, int timeoutMs);
    // waitForResponse() without the activity timer's restart, which the caller does when it can.
    bool receiveChunk(QString& text, int timeoutMs);
    // Runs a local event loop until the transport has bytes (true) or timeoutMs passes (false).
    bool waitForChunk(int timeoutMs);
    bool waitForResponseBytes(QByteArray& bytes, int timeoutMs);
    bool readAnswer(QString& answer, int lines, int timeoutMs);
    int sendAndExpect(const QString& command, const QString& expected, int lines, int timeoutMs,
                      int attempts);
    int sendAndRead(const QString& command, QString* answer, int lines, int timeoutMs, int attempts);
    // The read-exchange of a result request. An instrument that streams results by itself puts its
    // own lines before and after the answer, in the same chunks: the input is not cleared but taken
    // by the receive path, the first complete line after the request is the answer, and what follows
    // it stays in receiveBuffer for dispatchReceived().
    int sendAndReadResult(const QString& command, QString& answer, int timeoutMs, int attempts);
    // Dispatches the complete lines waiting in receiveBuffer.
    void dispatchReceived();
    // Reads what the transport holds into the receive path: logged and dispatched as lines.
    void takeWaitingInput();

    void setState(int state);
    void setBusy(bool busy);
    // Switch the dispatching of received chunks as lines on and off (off while an exchange reads).
    void connectReceiver();
    void disconnectReceiver();
    PelmLogRecord logRecord(const QString& message) const;
    // The traffic as logged: newInLog and newOutLog, each stamped now.
    void logIn(const QString& text);
    void logOut(const QString& line);
    // Sends a line with no answer awaited, as the one-line commands do.
    void sendOneLine(int command, const char* method, const QString& line);
    // The synchronous result requests: one line out, one result line back.
    QString requestResult(int command, const QString& line, bool stable);
    // Parses the answer to a result-with-stability request, emits and returns it.
    QString finishResultWithStb(int result, QString answer, bool withStability);
    bool expectAcknowledgement(int command, const QString& line, const QString& expected, QVariant param1);
    // The table transfer behind setUsers and setProducts.
    bool sendDB(const CDatabase& db, int command);
    // Whether a received line belongs to an EEPROM dump (emitted as eepromReceived); ends the dump
    // at its terminator.
    bool takeEepromLine(const QString& line);
    // Ends an alibi reading: "Salibistop", busy cleared, readingAlibiFinished(result).
    void finishAlibiReading(int result);
    // Switches the communication log's writing, in order with the records this thread emitted.
    void setLogWriting(bool on);

    int m_deviceType = 0;
    QString echoCommand;
    QString echoAnswer;
    CInterface* m_interface = nullptr;
    CInterfaceModule* m_module = nullptr;
    QString m_model;
    QString m_serialNumber;
    QString m_productionDate;
    QString m_firmware;
    QString receiveBuffer;
    int checkTimerId = 0;
    bool m_checkConnection = true;
    QList<int> m_unreachableReasons;
    QString m_lastAnswer;
    QString m_lastSent;
    QMap<int, QString> commandNames;
    bool filterResultLines = false;
    // The awaited answer is itself a result line: result lines are then not taken for the
    // instrument's own while the exchange reads.
    bool answerIsResult = false;
    bool readingEeprom = false;
    std::atomic<int> m_state{STATE_DISCONNECTED};
    std::atomic<int> m_previousState{STATE_DISCONNECTED};
    std::atomic<bool> m_busy{false};
    bool waitingForAnswer = false;
    int m_currentCommand = COMMAND_UNKNOWN;

    // The one command held back because it arrived while the device waited for an answer.
    struct DelayedCommand
    {
        const char* method = nullptr;
        QByteArray typeNames[3];
        QVariant values[3];
    } delayedCommand;

    // When the device last heard from the instrument (milliseconds of the monotonic clock), for
    // readers in other threads too. A stamp, not a timer: it is renewed with every chunk.
    std::atomic<qint64> m_lastActivityMs{0};
    bool recentlyActive() const;
    bool stopAlibi = false;

private slots:
    void onReadyRead();
    void onInterfaceStateChanged(int state);
    void invokeDelayedCommand();

private:
    void restartActivityTimer();
    void stopCheckTimer();
    // The user or the transport closed the connection: exchanges end and nothing more is sent.
    bool linkDown() const { return m_state == STATE_DISCONNECTED || m_state == STATE_DISCONNECTING; }
    void appendToReceiveBuffer(const QString& chunk);
    // The answer to a request sent ahead, when something other than that request's exchange comes
    // next: it is waited for and dispatched as the instrument's own line.
    void settleSentAhead();
    // A line that the instrument sends by itself while an exchange waits for its answer.
    bool isInstrumentsOwn(const QString& line);
    // Dispatches the instrument's own complete lines of pending + chunk and returns the others; an
    // unfinished last line stays in pending, whose first carried characters came before the request.
    QString takeInstrumentsOwnLines(QString& pending, int& carried, const QString& chunk);

    void armEepromObserver();
    void finishEepromReading(int result);

    bool m_receiveOverflowReported = false;
    // Between an answered EEPROM request and the end of its dump.
    bool m_eepromArmed = false;
    QMetaObject::Connection m_eepromObserver;
    // Ends a dump that stops without its terminator.
    QTimer* m_eepromTimer = nullptr;
    // Whether received chunks are dispatched as lines (off while an exchange reads its answer).
    bool m_receiving = true;
    int m_resultsAhead = 0;
    // newMeasurement()'s serial number and the one it was made of.
    mutable QString m_simplifiedSerialOf;
    mutable QString m_simplifiedSerial;
    // The result request sent ahead whose answer is in flight (empty when none).
    QString m_sentAhead;
    // The running wait for a chunk: its time-out timer and how it ended.
    int m_waitTimerId = 0;
    bool m_chunkArrived = false;
    bool m_waitExpired = false;
};
