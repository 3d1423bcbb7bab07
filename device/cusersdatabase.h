#pragma once

#include "device/cdatabase.h"
#include "device/devicetypes.h"

#include <QVector>

// The users table: "Sr", number, ";", text1, ";", text2.
class CUsersDatabase : public CDatabase
{
public:
    static constexpr int Capacity = 1000;

    explicit CUsersDatabase(QVector<UserRecord> users);

    int count() const override { return m_users.size(); }
    QString recordLine(int index) const override;
    QString startCommand() const override { return QStringLiteral("SbU\r\n"); }
    QString startAcknowledge() const override { return QStringLiteral("MbU\r\n"); }
    qint32 recordNumber(int index) const override { return m_users.at(index).number; }
    int capacity() const override { return Capacity; }

protected:
    QString fieldFault(int index) const override;

private:
    QVector<UserRecord> m_users;
};
