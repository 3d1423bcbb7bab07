#pragma once

#include <QStringList>

// mervik-cli verify: checks the stored results and the audit trail against their hash chain, read from
// the database file without changing it. One line per finding; exit 0 when everything holds, 1 when
// something was found, 2 on a usage error or a database that cannot be read.
namespace VerifyCommand {

// Whether the command line asks for it: its first word that is not an option (or --db's value) is
// "verify".
bool requested(int argc, char* argv[]);

int run(const QStringList& arguments);

} // namespace VerifyCommand
