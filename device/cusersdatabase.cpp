#include "device/cusersdatabase.h"

CUsersDatabase::CUsersDatabase(QVector<UserRecord> users) : CDatabase(3), m_users(std::move(users)) {}

QString CUsersDatabase::recordLine(int index) const
{
    const UserRecord& r = m_users.at(index);
    return QStringLiteral("Sr%1;%2;%3\r\n").arg(r.number).arg(r.text1, r.text2);
}

QString CUsersDatabase::fieldFault(int index) const
{
    const UserRecord& r = m_users.at(index);
    for (const QString& why :
         {numberFault(r.number), textFault("text1", r.text1), textFault("text2", r.text2)}) {
        if (!why.isEmpty()) {
            return why;
        }
    }
    return QString();
}
