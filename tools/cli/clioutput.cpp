#include "clioutput.h"

#include "log/exportfield.h"

#include <cstdio>

namespace CliOutput {

int fail(int code, const QString& message)
{
    std::fprintf(stderr, "mervik-cli: %s\n", qPrintable(message));
    return code;
}

void out(const QString& line)
{
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

QString csvField(const QString& text)
{
    return ExportField::quoted(text, QStringLiteral(","));
}

} // namespace CliOutput
