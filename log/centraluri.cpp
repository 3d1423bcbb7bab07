#include "log/centraluri.h"

#include <QSqlDatabase>
#include <QStringList>
#include <QUrl>

namespace CentralUri {

namespace {

// Without it an unreachable address keeps the forwarder waiting for the system's TCP time-out.
const char* const DefaultConnectTimeout = "connect_timeout=10";

QString decoded(const QString& part)
{
    return QUrl::fromPercentEncoding(part.toUtf8());
}

struct Parts
{
    QString user;
    QString host;
    int port = -1;
    QString dbname;
    QStringList options;
};

QString parse(const QString& uri, Parts& parts)
{
    QString rest;
    for (const char* scheme : {"postgresql://", "postgres://"}) {
        if (uri.startsWith(QLatin1String(scheme))) {
            rest = uri.mid(int(qstrlen(scheme)));
        }
    }
    if (rest.isNull()) {
        return QStringLiteral("not a postgresql:// URI");
    }
    const int question = rest.indexOf(QLatin1Char('?'));
    const QString query = question < 0 ? QString() : rest.mid(question + 1);
    rest = rest.left(question < 0 ? rest.size() : question);
    const int slash = rest.indexOf(QLatin1Char('/'));
    QString authority = rest.left(slash < 0 ? rest.size() : slash);
    parts.dbname = slash < 0 ? QString() : decoded(rest.mid(slash + 1));
    const int at = authority.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        const QString userInfo = authority.left(at);
        if (userInfo.contains(QLatin1Char(':'))) {
            return QStringLiteral("a password does not belong in the URI: put it in ~/.pgpass or PGPASSWORD");
        }
        parts.user = decoded(userInfo);
        authority = authority.mid(at + 1);
    }
    if (authority.contains(QLatin1Char(','))) {
        return QStringLiteral("one server only");
    }
    QString portText;
    if (authority.startsWith(QLatin1Char('['))) {
        const int close = authority.indexOf(QLatin1Char(']'));
        if (close < 0) {
            return QStringLiteral("unclosed [ in the address");
        }
        parts.host = authority.mid(1, close - 1);
        portText = authority.mid(close + 1);
        if (!portText.isEmpty() && !portText.startsWith(QLatin1Char(':'))) {
            return QStringLiteral("bad address");
        }
        portText = portText.mid(1);
    } else {
        const int colon = authority.lastIndexOf(QLatin1Char(':'));
        parts.host = decoded(colon < 0 ? authority : authority.left(colon));
        portText = colon < 0 ? QString() : authority.mid(colon + 1);
    }
    bool hasTimeout = false;
    for (const QString& pair : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const int equals = pair.indexOf(QLatin1Char('='));
        const QString key = decoded(pair.left(equals));
        const QString value = equals < 0 ? QString() : decoded(pair.mid(equals + 1));
        if (key == QLatin1String("password")) {
            return QStringLiteral("a password does not belong in the URI: put it in ~/.pgpass or PGPASSWORD");
        } else if (key == QLatin1String("host")) {
            parts.host = value;
        } else if (key == QLatin1String("port")) {
            portText = value;
        } else if (key == QLatin1String("user")) {
            parts.user = value;
        } else if (key == QLatin1String("dbname")) {
            parts.dbname = value;
        } else {
            // The driver passes its options on as they stand, separated by spaces.
            static const QString unsafe = QStringLiteral(" ;'\\\"");
            for (const QChar c : key + value) {
                if (unsafe.contains(c)) {
                    return QStringLiteral("option %1: spaces, quotes and ; are not supported").arg(key);
                }
            }
            hasTimeout = hasTimeout || key == QLatin1String("connect_timeout");
            parts.options << key + QLatin1Char('=') + value;
        }
    }
    if (!portText.isEmpty()) {
        bool ok = false;
        parts.port = portText.toInt(&ok);
        if (!ok || parts.port < 1 || parts.port > 65535) {
            return QStringLiteral("bad port: %1").arg(portText);
        }
    }
    if (!hasTimeout) {
        parts.options << QLatin1String(DefaultConnectTimeout);
    }
    return QString();
}

} // namespace

bool apply(const QString& uri, QSqlDatabase& db, QString* error)
{
    Parts parts;
    const QString reason = parse(uri, parts);
    if (!reason.isEmpty()) {
        if (error) {
            *error = reason;
        }
        return false;
    }
    db.setHostName(parts.host);
    db.setPort(parts.port);
    db.setUserName(parts.user);
    db.setDatabaseName(parts.dbname);
    db.setConnectOptions(parts.options.join(QLatin1Char(';')));
    return true;
}

QString problem(const QString& uri)
{
    Parts parts;
    return parse(uri, parts);
}

} // namespace CentralUri
