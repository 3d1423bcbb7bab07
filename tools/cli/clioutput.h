#pragma once

#include <QString>

// What mervik-cli prints: results on stdout, a failure as one line on stderr, fields of CSV files.
namespace CliOutput {

// Prints "mervik-cli: message" on stderr and returns code, so that a failure is one statement.
int fail(int code, const QString& message);
// One line on stdout, flushed at once: scripts read it as it comes.
void out(const QString& line);
// A CSV field by the rule of every export: quoted when it holds the delimiter, a quote or a line
// break; a text that begins like a formula made plain text.
QString csvField(const QString& text);

} // namespace CliOutput
