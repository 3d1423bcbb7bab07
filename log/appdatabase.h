#pragma once

#include <QString>

// The program's one SQLite database, opened as the default connection before any store is created.
namespace AppDatabase {

// How long a write waits for another program's lock before it fails: longer than any write of this
// program's takes, short enough that a window waiting for it does not look hung.
constexpr int BusyTimeoutMs = 3000;

// "myDbQel.db" in the writable local application-data folder.
QString defaultPath();

// Opens path (the default path when empty) as the default connection, in WAL mode, once it has
// passed SQLite's quick check and proved writable. A database that fails either is reported, left
// exactly as it is, and not used: the default connection is removed, so nothing stores and nothing
// opens the file again behind the program's back.
bool open(const QString& path = QString());

// "<path>: <reason>" when the last open() refused the database, empty when it was opened.
QString failure();

} // namespace AppDatabase
