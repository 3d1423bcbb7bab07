#pragma once

#include <QString>

class QSqlDatabase;

// A central database given as a libpq connection URI (postgresql://user@host:port/dbname?option=value),
// set on a connection of Qt's PostgreSQL driver, which takes the parts but not the URI itself. The
// password is never part of it: libpq finds it in ~/.pgpass, PGPASSWORD or a service file.
namespace CentralUri {

// Sets the URI's parts on db; false with the reason when it is no URI of one server or holds a password.
bool apply(const QString& uri, QSqlDatabase& db, QString* error);

// Whether uri can be used; the reason when not.
QString problem(const QString& uri);

} // namespace CentralUri
