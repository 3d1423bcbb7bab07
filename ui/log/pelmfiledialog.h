#pragma once

#include <QFileDialog>
#include <QString>

// A file dialog that starts in the folder last used for its purpose (key), kept in the settings
// group "SavedFilePaths"; without a key, or before the first use, it starts in the home folder.
class PelmFileDialog : public QFileDialog
{
    Q_OBJECT
public:
    explicit PelmFileDialog(const QString& key, QWidget* parent = nullptr);

    QString lastDirectory() const;
    void saveDirectory(const QString& path);

    // The chosen file, or an empty text when the user cancels.
    QString openFile(const QString& filter);
    QString saveFile(const QString& filter);

private:
    QString choose(const QString& filter);

    QString m_key;
};
