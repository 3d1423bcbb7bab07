#include "ui/log/pelmfiledialog.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

namespace {
const QString Group = QStringLiteral("SavedFilePaths");
} // namespace

PelmFileDialog::PelmFileDialog(const QString& key, QWidget* parent)
    : QFileDialog(parent, QString(), QString(), QString()), m_key(key)
{
}

QString PelmFileDialog::lastDirectory() const
{
    if (m_key.isEmpty()) {
        return QDir::homePath();
    }
    QSettings settings;
    settings.beginGroup(Group);
    if (settings.contains(m_key)) {
        return settings.value(m_key).toString();
    }
    return QDir::homePath();
}

void PelmFileDialog::saveDirectory(const QString& path)
{
    QSettings settings;
    settings.setValue(Group + QLatin1Char('/') + m_key, path);
}

QString PelmFileDialog::openFile(const QString& filter)
{
    setFileMode(QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);
    return choose(filter);
}

QString PelmFileDialog::saveFile(const QString& filter)
{
    setFileMode(QFileDialog::AnyFile);
    setAcceptMode(QFileDialog::AcceptSave);
    return choose(filter);
}

namespace {

// "csv" of "CSV (*.csv)"; none of "All files (*)".
QString suffixOf(const QString& nameFilter)
{
    static const QRegularExpression pattern(QStringLiteral("\\*\\.(\\w+)"));
    return pattern.match(nameFilter).captured(1);
}

} // namespace

QString PelmFileDialog::choose(const QString& filter)
{
    setDirectory(lastDirectory());
    setNameFilter(filter);
    // A name typed without an extension gets the one of the file type chosen.
    if (acceptMode() == QFileDialog::AcceptSave) {
        setDefaultSuffix(suffixOf(selectedNameFilter()));
        connect(this, &QFileDialog::filterSelected, this,
                [this](const QString& chosen) { setDefaultSuffix(suffixOf(chosen)); });
    }
    if (exec() != QDialog::Accepted) {
        return QString();
    }
    const QStringList files = selectedFiles();
    if (files.isEmpty()) {
        return QString();
    }
    saveDirectory(QFileInfo(files.first()).absolutePath());
    return files.first();
}
