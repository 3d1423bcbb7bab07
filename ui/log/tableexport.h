#pragma once

#include <QIODevice>
#include <QString>

class QAbstractItemModel;
class QByteArray;
class QWidget;

// How the views export a table: tab-separated lines of every row, each field by the one export
// rule, written whole or not at all, and said on the status line.
namespace TableExport {

// Every row of the model (fetched to its end), columns from firstColumn on; with numberRows each
// line begins with the row's number instead.
QString text(QAbstractItemModel* model, int firstColumn, bool numberRows);
// Writes the file beside its target and renames it at the end; a failure is told in a message box.
bool writeFile(QWidget* parent, const QString& path, const QByteArray& bytes, QIODevice::OpenMode mode);
// "12 lines written to log.csv" on the status line.
void sayWritten(int count, const QString& what, const QString& path);
// Asks for a file (remembered per purpose) when path is empty, writes the rows, says so.
bool save(QWidget* parent, QAbstractItemModel* model, const QString& purpose, QString path, int firstColumn,
          bool numberRows, const QString& what);

} // namespace TableExport
