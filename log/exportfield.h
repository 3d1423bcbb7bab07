#pragma once

#include <QString>

// Exported text files separate fields and lines by plain characters; a field that holds one of
// them, or a double quote, would shift every following column, so such a field is quoted.
namespace ExportField {

// text as it is, or in double quotes with inner quotes doubled when it holds the field delimiter,
// the line end, a double quote, a carriage return or a line feed.
QString quoted(const QString& text, const QString& fieldDelimiter, const QString& lineEnd = QString());

} // namespace ExportField
