#pragma once

#include "device/devicetypes.h"
#include "ui/capture/cursorpaste.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QVector>

#include <functional>
#include <memory>

class DataFeedTableModel;
class QDialog;
class QFile;
class QTextStream;
class QWidget;

// The capture export: polls the instrument on a timer, counts the elapsed time, types each
// captured result into the focused window and writes the captured table to a file. The rows come
// from the capture, the columns from the settings.
class ApplicationController : public QObject
{
    Q_OBJECT
public:
    static constexpr int ElapsedTickMs = 1000;
    // The longest a result written to the export file waits before it is synced to the disk.
    static constexpr int DiskSyncMs = 100;
    static constexpr int StopDialogDelayMs = 100;
    static constexpr int StopDialogRightOffset = 255;
    static const char* const FileFilter;

    // Hooks for what asks the user: the transfer page supplies the stop dialog; tests answer the
    // file and the stop question (Finish and save or Continue) without a dialog.
    using StopDialogFactory = std::function<QDialog*()>;
    using FileChooser = std::function<QString()>;
    using FinishQuestion = std::function<bool(const QString& text)>;

    static ApplicationController* instance();
    ~ApplicationController() override;

    // Connects the option values; called once at start-up.
    void init();
    void setStopDialogFactory(StopDialogFactory factory) { m_stopDialogFactory = std::move(factory); }
    void setFileChooser(FileChooser chooser) { m_fileChooser = std::move(chooser); }
    void setFinishQuestion(FinishQuestion question) { m_finishQuestion = std::move(question); }

    // The line typed for one result, as if it had just been stored.
    QString formatLine(const Measurement& m) const;
    // The line typed for a stored row: its COUNT and the fields DATE, TIME, SN, VAL, UNIT.
    QString formatRow(qint64 count, const QStringList& fields) const;
    // Writes the shown columns of the captured table, as a file named path gets them (its delimiter,
    // a header row when chosen); false when the stream reports an error.
    bool writeTable(QTextStream& out, const QString& path = QString()) const;
    // Why the last start was refused, in the user's words; empty after a start.
    QString startFailure() const { return m_startFailure; }
    // The file chosen in an earlier run: "File" is on again with it, without asking.
    void restoreFile(const QString& path);

    QString currentFilePath() const { return filePath; }
    bool isExporting() const { return m_exporting; }
    bool isFileExportRunning() const { return file != nullptr; }
    int autoSendIntervalMs() const { return autoSendTimer.interval(); }
    bool isAutoSendRunning() const { return autoSendTimer.isActive(); }
    int elapsed() const { return elapsedSeconds; }
    CursorPaste& keyboardOutput() { return cursorPaste; }

public slots:
    // Asks for one result; false when the controllers refused the request.
    bool send();
    bool startExport();
    bool stopExport();
    void restartTimer();
    bool saveData();
    void setAuto(bool start);
    void setTimerInterval();
    void chooseFile(bool enabled);
    void pasteResult(Measurement m);

signals:
    void minimize();
    void show();
    void elapsedTimeSig(int seconds);
    void exportStarted();
    void exportStopped();
    void newFilePath(QString path);
    void clearContents();

private:
    ApplicationController();
    void onElapsedTick();
    void showStopDialog();
    bool feedIsEmpty() const;
    // The captured rows.
    static DataFeedTableModel* feed();
    void typeLine(const QString& line);
    void finishExport();
    // appending: the file is only added to (after the export's own question), so the dialog does not
    // ask about replacing it.
    QString askForFile(bool appending = false) const;
    // Writes rows first to last of the captured table as writeTable does, fields between delimiter;
    // returns the number of rows written.
    int writeRows(QTextStream& out, int first, int last, const QString& delimiter) const;
    void writeHeader(QTextStream& out, const QString& delimiter) const;
    // Refuses a start: says why in the debug output and keeps the reason for the page.
    bool refuseStart(const QString& reason);
    // Opens the export file to add to what it holds, or empties it when the user chooses so.
    bool openExportFile();
    // Writes the rows stored since the last written one, flushed at once.
    void writeNewRows();

    QTimer autoSendTimer;
    QString filePath;
    std::unique_ptr<QFile> file;
    std::unique_ptr<QTextStream> stream;
    QTimer elapsedTimer;
    // Written rows reach the disk within this bound, not one disk wait per result.
    QTimer m_diskSyncTimer;
    qint32 elapsedSeconds = 0;
    CursorPaste cursorPaste;

    bool m_exporting = false;
    QMetaObject::Connection m_pasteConnection;
    QVector<QMetaObject::Connection> m_rowsConnections;
    // The COUNT of the last row written to the export file; rows up to it were there before.
    qint64 m_writtenCount = 0;
    bool m_writeFailureReported = false;
    // The export file's field delimiter, and the rows written to it during this capture.
    QString m_fileDelimiter;
    int m_rowsWritten = 0;
    QString m_startFailure;
    QString m_restoredFile;
    StopDialogFactory m_stopDialogFactory;
    FileChooser m_fileChooser;
    FinishQuestion m_finishQuestion;
};
