#include "device/cusersdatabase.h"

CUsersDatabase::CUsersDatabase(QVector<UserRecord> users) : CDatabase(3), m_users(std::move(users)) {}

QString CUsersDatabase::recordLine(int index) const
{
    const UserRecord& r = m_users.at(index);
    return QStringLiteral("Sr%1;%2;%3\r\n").arg(r.number).arg(r.text1, r.text2);
}
