#pragma once

#include <QString>

// The program's one SQLite database, opened as the default connection before any store is created.
namespace AppDatabase {

// "myDbQel.db" in the writable local application-data folder.
QString defaultPath();

// Opens path (the default path when empty) as the default connection, in WAL mode.
bool open(const QString& path = QString());

} // namespace AppDatabase
