#pragma once

#include <QString>

// Exported text files separate fields and lines by plain characters; a field that holds one of
// them, or a double quote, would shift every following column, so such a field is quoted.
// A spreadsheet opening a delimited file runs a field that begins like a formula, so such a field
// (a note, a unit or an instrument's line, never a number) is made plain text.
namespace ExportField {

// text as it is, or in double quotes with inner quotes doubled when it holds the field delimiter,
// the line end, a double quote, a carriage return or a line feed. With a field delimiter, a text
// that begins with '=', '+', '-' or '@' and is no number gets a leading apostrophe, inside quotes.
QString quoted(const QString& text, const QString& fieldDelimiter, const QString& lineEnd = QString());

} // namespace ExportField
