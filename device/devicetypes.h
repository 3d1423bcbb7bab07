#pragma once

#include "interface/cinterface.h"

#include <QDate>
#include <QMetaType>
#include <QString>
#include <QTime>
#include <QVector>

#include <functional>

// One weighing result as the instrument sent it. A double keeps every digit that analytical
// balances send (eight and more significant digits).
struct Measurement
{
    double value = 0.0;
    QString unit;
    int decimals = 0;
    // 'S' stable, 'U' unstable, 'X' the line carried no stability mark.
    char stability = 'X';
    // The serial number of the instrument that sent it, white space simplified; null when no
    // instrument stamped it. Stamped in the device's own thread: by the time a queued result
    // arrives, another instrument may be the current one.
    QString serialNumber;

    // The value as received: fixed notation with its decimals. Every output uses this one form.
    QString valueText() const;
};

// A callable that a delayed command may carry across the event queue.
class FunctionWrapper
{
public:
    FunctionWrapper() = default;
    explicit FunctionWrapper(std::function<void()> function) : m_function(std::move(function)) {}
    void operator()() const
    {
        if (m_function) {
            m_function();
        }
    }
    bool isValid() const { return bool(m_function); }

private:
    std::function<void()> m_function;
};

// An entry of the users table sent to an instrument.
struct UserRecord
{
    qint32 number = 0;
    QString text1;
    QString text2;
};

// An entry of the products table sent to an instrument.
struct ProductRecord
{
    qint32 number = 0;
    QString text1;
    QString text2;
    QString text3;
    qint32 integerValue = 0;
    double value1 = 0.0;
    double value2 = 0.0;
    double value3 = 0.0;
};

// One record of the instrument's alibi memory.
struct AlibiRecord
{
    qint32 recId = 0;
    QDate date;
    QTime time;
    qint32 num = 0;
    QString userId;
    QString prodId;
    double net = 0.0;
    double gross = 0.0;
    double tare = 0.0;
    QString unit;
    qint16 point = 0;
    bool stb = false;
};

Q_DECLARE_METATYPE(Measurement)
Q_DECLARE_METATYPE(FunctionWrapper*)
Q_DECLARE_METATYPE(UserRecord)
Q_DECLARE_METATYPE(ProductRecord)
Q_DECLARE_METATYPE(AlibiRecord)

namespace DeviceTypes {
// Registers every value type that crosses threads in queued signals and invocations.
// Safe to call more than once and from any thread.
void registerMetaTypes();
} // namespace DeviceTypes

// Device states: the transport's three, so that a transport's state is the device's, and the two
// of the way between.
enum DeviceState
{
    STATE_CONNECTED = CInterface::StateConnected,
    STATE_DISCONNECTED = CInterface::StateDisconnected,
    STATE_LISTENING = CInterface::StateListening,
    STATE_CONNECTING = 4,
    STATE_DISCONNECTING = 5,
};

// Outcome of a command, carried by commandFinished and the other finished signals.
enum CommandResult
{
    COMMAND_REFUSED = 0, // shown as "COMMAND UNKNOWN"
    COMMAND_OK = 1,
    COMMAND_FAILED = 2,
    COMMAND_TIMEOUT = 3,
};

// Identifiers of device commands.
enum DeviceCommand
{
    COMMAND_UNKNOWN = 0,
    COMMAND_CONNECT = 1,
    COMMAND_DISCONNECT = 2,
    COMMAND_STABLE_RESULT = 10,
    COMMAND_RESULT = 11,
    COMMAND_RESULT_WITH_STB = 12,
    COMMAND_TARE = 13,
    COMMAND_ZERO = 14,
    COMMAND_READ_INFO = 15,
    COMMAND_CHECK_ECHO = 16,
    COMMAND_MIN_THR = 17,
    COMMAND_MAX_THR = 18,
    COMMAND_ZERO_THR = 19,
    COMMAND_MESSAGE = 20,
    COMMAND_SET_USERS = 21,
    COMMAND_SET_PRODUCTS = 22,
    COMMAND_SET_DATE_TIME = 23,
    COMMAND_GET_DATE_TIME = 24,
    COMMAND_READ_ALIBI = 25,
    COMMAND_SEND_FIRMWARE = 26,
    COMMAND_SET_EEPROM = 27,
    COMMAND_GET_EEPROM = 28,
    COMMAND_SET_COMPENSATION = 29,
    COMMAND_GET_COMPENSATION = 290,
    COMMAND_SEND_SI = 30,
    COMMAND_SEND_Sx1 = 31,
    COMMAND_SEND_Sx3 = 32,
    COMMAND_SEND_SZ = 33,
    COMMAND_SEND_ST = 34,
    COMMAND_SEND_SJ = 35,
    COMMAND_SEND_SW9 = 36,
    COMMAND_SEND_STRING = 37,
    COMMAND_SEND_SS = 38,
};

// Why a network instrument cannot be reached, in the order the reachability check finds them.
enum UnreachableReason
{
    REASON_NO_DHCP_ADDRESS = 1,
    REASON_DHCP_ADDRESS_NOT_LOCAL = 2,
    REASON_ADDRESS_NOT_LOCAL = 3,
    REASON_DHCP_CANNOT_REACH_COMPUTER = 4,
    REASON_CANNOT_REACH_COMPUTER = 5,
    REASON_WRONG_REMOTE_IP = 6,
    REASON_WRONG_PROTOCOL = 7,
};
