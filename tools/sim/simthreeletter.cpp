#include "simthreeletter.h"

#include <QList>

#include <cmath>

namespace {

const QByteArray Ok = "OK\r\n";
const QByteArray Unknown = "E00\r\n";
const QByteArray Denied = "E02\r\n";
const QByteArray WrongPassword = "E03\r\n";
const QByteArray BadArgument = "E04\r\n";

bool isNumber(const QByteArray& text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && std::isfinite(value) && text.trimmed() == text && !text.isEmpty();
}

} // namespace

SimThreeLetter::SimThreeLetter(int address, QObject* parent)
    : QObject(parent), m_address(address), m_serial("40" + QByteArray::number(address).rightJustified(4, '0'))
{
}

bool SimThreeLetter::isUnit(const QByteArray& unit)
{
    return unit == "kg" || unit == "g" || unit == "t" || unit == "d";
}

QByteArray SimThreeLetter::formatResult(double value, int decimals, const QByteArray& unit)
{
    QByteArray digits = QByteArray::number(std::fabs(value), 'f', qBound(0, decimals, 6));
    bool negative = false;
    if (value < 0) {
        for (const char c : digits) {
            negative = negative || (c >= '1' && c <= '9');
        }
    }
    if (negative) {
        digits.prepend('-');
    }
    if (digits.size() > 7) {
        digits = "OL";
    }
    return digits.rightJustified(7, ' ') + unit.left(2).rightJustified(2, ' ') + "\r\n";
}

void SimThreeLetter::setPasswords(const QByteArray& service, const QByteArray& admin)
{
    m_servicePassword = service;
    m_adminPassword = admin;
}

QByteArray SimThreeLetter::handle(const QByteArray& command)
{
    const QByteArray mnemonic = command.left(3);
    const QByteArray arguments = command.mid(3);
    m_counts[mnemonic]++;
    if (command == "DAD") {
        return QByteArray::number(m_address) + "\r\n";
    }
    if (command == "DWY") {
        return formatResult(displayedWeight(), m_decimals, m_unit);
    }
    if (command == "DWS") {
        return m_stable ? formatResult(displayedWeight(), m_decimals, m_unit) : QByteArray();
    }
    if (command == "TAR") {
        m_pan.tareNow();
        return Ok;
    }
    if (command == "ZER") {
        m_pan.zeroNow();
        return Ok;
    }
    if (command == "DNW") {
        return m_firmware + "\r\n";
    }
    if (command == "DNS") {
        return m_serial + "\r\n";
    }
    if (mnemonic == "UNS") {
        if (m_mode != Admin) {
            return Denied;
        }
        if (!arguments.isEmpty()) {
            m_serial = arguments;
        }
        return m_serial + "\r\n";
    }
    if (command == "ZKA") {
        return m_mode == User ? Denied : QByteArray("E01\r\n");
    }
    if (mnemonic == "WES" || mnemonic == "WEA") {
        const bool admin = mnemonic == "WEA";
        if (arguments != (admin ? m_adminPassword : m_servicePassword)) {
            return WrongPassword;
        }
        m_mode = admin ? Admin : Service;
        return Ok;
    }
    if (command == "WYS" || command == "WYA") {
        m_mode = User;
        return Ok;
    }
    if (command == "FKD" || command == "KFL") {
        return Ok;
    }
    if (mnemonic == "FKG" || mnemonic == "UWA" || mnemonic == "UFW") {
        return setting(mnemonic, arguments);
    }
    if (mnemonic == "ZAD") {
        bool ok = false;
        const int address = arguments.toInt(&ok);
        if (!ok || address < 0 || address > 99 || arguments.startsWith('+')) {
            return BadArgument;
        }
        m_address = address;
        return Ok;
    }
    if (command == "ZFI") {
        return m_loader.start();
    }
    return Unknown;
}

QByteArray SimThreeLetter::setting(const QByteArray& mnemonic, const QByteArray& arguments)
{
    const QList<QByteArray> fields = arguments.split(',');
    bool good = false;
    if (mnemonic == "FKG") {
        // A mass, and a unit unless it is "d".
        good = fields.size() <= 2 && isNumber(fields.at(0)) && (fields.size() == 1 || isUnit(fields.at(1)));
    } else if (mnemonic == "UWA") {
        good = fields.size() == 3 && isUnit(fields.at(0)) && isNumber(fields.at(1)) &&
               isNumber(fields.at(2)) && fields.at(1).toDouble() <= fields.at(2).toDouble();
    } else {
        good = arguments == "0" || arguments == "1" || arguments == "2";
    }
    if (!good) {
        return BadArgument;
    }
    m_settings.insert(mnemonic, arguments);
    return Ok;
}
