#pragma once

#include <QStringList>

// mervik-cli report: a weighing report of the stored results as a PDF, read from the database file
// without changing it. Painting needs QtGui: the command runs in a QGuiApplication on the offscreen
// platform unless another is named.
namespace ReportCommand {

// Whether the command line asks for a report: its first word that is not an option (or the value of
// one of the report's options) is "report".
bool requested(int argc, char* argv[]);

// Runs it; returns the exit status, the reason printed on stderr.
int run(const QStringList& arguments);

} // namespace ReportCommand
