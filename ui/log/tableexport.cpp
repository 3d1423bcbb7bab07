#include "ui/log/tableexport.h"

#include "log/exportfield.h"
#include "ui/log/pelmfiledialog.h"
#include "ui/requestnotice.h"

#include <QAbstractItemModel>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QSaveFile>

namespace TableExport {

QString text(QAbstractItemModel* model, int firstColumn, bool numberRows)
{
    while (model->canFetchMore(QModelIndex())) {
        model->fetchMore(QModelIndex());
    }
    const QString separator = QStringLiteral("\t");
    const QString lineEnd = QStringLiteral("\n");
    const int columns = model->columnCount();
    QString text;
    for (int row = 0; row < model->rowCount(); ++row) {
        if (numberRows) {
            text += QString::number(row) + separator;
        }
        for (int column = firstColumn; column < columns; ++column) {
            text += ExportField::quoted(model->index(row, column).data().toString(), separator, lineEnd);
            text += column < columns - 1 ? separator : lineEnd;
        }
    }
    return text;
}

bool writeFile(QWidget* parent, const QString& path, const QByteArray& bytes, QIODevice::OpenMode mode)
{
    // Written beside the target and renamed at the end, so a failed write leaves no half file.
    QSaveFile file(path);
    if (!file.open(mode)) {
        QMessageBox::critical(parent, QStringLiteral("ERROR"),
                              QStringLiteral("There was an error while trying to open a file"));
        return false;
    }
    file.write(bytes);
    if (!file.commit()) {
        QMessageBox::critical(parent, QStringLiteral("ERROR"),
                              QStringLiteral("There was an error while writing the file"));
        return false;
    }
    return true;
}

void sayWritten(int count, const QString& what, const QString& path)
{
    // Grouped as the window's other English texts are, whatever the system's language.
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    RequestNotice::instance()->say(QStringLiteral("%1 %2%3 written to %4")
                                       .arg(english.toString(count), what,
                                            count == 1 ? QString() : QStringLiteral("s"),
                                            QFileInfo(path).fileName()));
}

bool save(QWidget* parent, QAbstractItemModel* model, const QString& purpose, QString path, int firstColumn,
          bool numberRows, const QString& what)
{
    if (path.isEmpty()) {
        PelmFileDialog dialog(purpose, parent);
        path = dialog.saveFile(QStringLiteral("Tab-separated text (*.csv *.tsv *.txt);;All files (*)"));
        if (path.isEmpty()) {
            return false;
        }
    }
    const QString rows = text(model, firstColumn, numberRows);
    if (!writeFile(parent, path, rows.toUtf8(),
                   QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        return false;
    }
    sayWritten(model->rowCount(), what, path);
    return true;
}

} // namespace TableExport
