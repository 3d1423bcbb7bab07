#pragma once

#include "device/cdatabase.h"
#include "device/devicetypes.h"

#include <QVector>

// The users table: "Sr", number, ";", text1, ";", text2.
class CUsersDatabase : public CDatabase
{
public:
    explicit CUsersDatabase(QVector<UserRecord> users);

    int count() const override { return m_users.size(); }
    QString recordLine(int index) const override;
    QString startCommand() const override { return QStringLiteral("SbU\r\n"); }
    QString startAcknowledge() const override { return QStringLiteral("MbU\r\n"); }

private:
    QVector<UserRecord> m_users;
};
