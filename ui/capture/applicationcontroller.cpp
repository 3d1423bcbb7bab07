#include "ui/capture/applicationcontroller.h"

#include "controller/capturecore.h"
#include "controller/cbalancecontroller.h"
#include "device/cdevice.h"
#include "log/datafeedtablemodel.h"
#include "log/exportfield.h"
#include "platform/filesync.h"
#include "platform/logcategories.h"
#include "ui/confirmationdialog.h"
#include "ui/log/pelmfiledialog.h"
#include "ui/requestnotice.h"
#include "ui/settings/settingscontroller.h"

#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QScreen>
#include <QTextStream>

#include <cmath>
#include <limits>

const char* const ApplicationController::FileFilter =
    "CSV (*.csv);;Tab-separated text (*.tsv);;Text (*.txt);;All files (*)";

namespace {

// "48 results written to results.csv", grouped as the window's other English texts are.
QString writtenText(int rows, const QString& path)
{
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    return QStringLiteral("%1 %2 written to %3")
        .arg(english.toString(rows), rows == 1 ? QStringLiteral("result") : QStringLiteral("results"),
             QFileInfo(path).fileName());
}

} // namespace

ApplicationController* ApplicationController::instance()
{
    static ApplicationController controller;
    return &controller;
}

ApplicationController::ApplicationController()
{
    elapsedTimer.setInterval(ElapsedTickMs);
    connect(&elapsedTimer, &QTimer::timeout, this, &ApplicationController::onElapsedTick);
    cursorPaste.setEnabled(true);
    m_diskSyncTimer.setSingleShot(true);
    m_diskSyncTimer.setInterval(DiskSyncMs);
    connect(&m_diskSyncTimer, &QTimer::timeout, this, [this] {
        if (file && !syncToDisk(*file)) {
            qCWarning(lcController) << "the export file could not be synced to disk:" << filePath
                                    << file->errorString();
        }
    });
}

ApplicationController::~ApplicationController() = default;

void ApplicationController::init()
{
    SettingsController* settings = SettingsController::instance();
    connect(&autoSendTimer, &QTimer::timeout, this, &ApplicationController::send, Qt::UniqueConnection);
    connect(&settings->autoSendInterval, &SpinElement::stateChanged, this,
            &ApplicationController::setTimerInterval, Qt::UniqueConnection);
    connect(&settings->autoSendUnit, &ComboElement::stateChanged, this,
            &ApplicationController::setTimerInterval, Qt::UniqueConnection);
    connect(&settings->saveToFile, &TwoStateElement::stateChanged, this, &ApplicationController::chooseFile,
            Qt::UniqueConnection);
    setTimerInterval();
}

void ApplicationController::setTimerInterval()
{
    const SettingsController* settings = SettingsController::instance();
    const int value = settings->autoSendInterval.value();
    const int unit = settings->autoSendUnit.value();
    // Polling faster than every 250 ms only floods the instrument; the pages' spin boxes have the
    // same floor, this one also holds before they are bound.
    qint64 ms = qMax(value, int(SettingsController::MinAutoSendMs));
    if (unit != SettingsController::UnitMs) {
        ms = qint64(std::pow(60.0, unit - 1)) * value * 1000;
    }
    // 9999 hours do not fit a timer; the longest a timer takes is enough for any real poll.
    autoSendTimer.setInterval(int(qMin<qint64>(ms, std::numeric_limits<int>::max())));
}

bool ApplicationController::send()
{
    CBalanceController* balance = CBalanceController::instance();
    return SettingsController::instance()->stableOnly.value() ? balance->stableResult() : balance->result();
}

void ApplicationController::setAuto(bool start)
{
    if (start) {
        autoSendTimer.start();
    } else {
        autoSendTimer.stop();
    }
}

DataFeedTableModel* ApplicationController::feed()
{
    return CaptureCore::instance()->model();
}

bool ApplicationController::feedIsEmpty() const
{
    return feed()->rowCount() == 0;
}

void ApplicationController::onElapsedTick()
{
    if (feedIsEmpty() && !SettingsController::instance()->pasteToCursor.value()) {
        return;
    }
    ++elapsedSeconds;
    emit elapsedTimeSig(elapsedSeconds);
}

void ApplicationController::restartTimer()
{
    elapsedSeconds = 0;
    if (elapsedTimer.isActive()) {
        elapsedTimer.start();
    }
    emit elapsedTimeSig(0);
}

bool ApplicationController::startExport()
{
    CDevice* device = CControllerInterface::currentDevice();
    if (file) {
        return refuseStart(QStringLiteral("an export to a file is already running."));
    }
    if (!device || device->state() != STATE_CONNECTED) {
        return refuseStart(QStringLiteral("no instrument is connected."));
    }
    m_startFailure.clear();
    // Results that came before the start are not this capture's to type or write.
    CaptureCore::instance()->flush();
    SettingsController* settings = SettingsController::instance();
    settings->autoSend.setEnabled(false);
    settings->autoSendInterval.setEnabled(false);
    settings->autoSendUnit.setEnabled(false);

    if (settings->saveToFile.value()) {
        if (!openExportFile()) {
            settings->autoSend.setEnabled(true);
            settings->autoSendInterval.setEnabled(true);
            settings->autoSendUnit.setEnabled(true);
            return false;
        }
        // The feed's own question: whatever the answer, the file keeps what it holds and receives
        // the results of this capture only.
        emit clearContents();
        m_writtenCount = feed()->lastStoredCount();
        m_writeFailureReported = false;
        // Stored rows only, this program's and any other's; rows that come back after a reset of
        // the model are found as well as stored ones.
        const DataFeedTableModel* model = feed();
        m_rowsConnections = {
            connect(model, &DataFeedTableModel::rowsStored, this, &ApplicationController::writeNewRows),
            connect(model, &QAbstractItemModel::modelReset, this, &ApplicationController::writeNewRows)};
    }

    if (settings->pasteToCursor.value()) {
        emit minimize();
        // Once the capture took the result in: the typed line names the row it became.
        m_pasteConnection =
            connect(CaptureCore::instance(), &CaptureCore::resultCaptured, this,
                    [this](qint64 count, const QStringList& fields) {
                        typeLine(formatRow(count > 0 ? count : feed()->nextCount() - 1, fields));
                    });
        QTimer::singleShot(StopDialogDelayMs, this, &ApplicationController::showStopDialog);
    }

    setAuto(settings->autoSend.value());
    // Each capture counts its own time.
    elapsedSeconds = 0;
    emit elapsedTimeSig(0);
    elapsedTimer.start();
    m_exporting = true;
    emit exportStarted();
    return true;
}

bool ApplicationController::refuseStart(const QString& reason)
{
    qCDebug(lcController) << "cannot start the export:" << reason;
    m_startFailure = reason;
    return false;
}

bool ApplicationController::openExportFile()
{
    if (filePath.isEmpty()) {
        return refuseStart(QStringLiteral("no file is chosen for the results."));
    }
    // Opened to add at the end: a capture never empties a file unless the user says so.
    auto opened = std::make_unique<QFile>(filePath);
    if (!opened->open(QIODevice::Append | QIODevice::Text)) {
        return refuseStart(QStringLiteral("%1 cannot be written (%2).")
                               .arg(QDir::toNativeSeparators(filePath), opened->errorString()));
    }
    if (opened->size() > 0) {
        const QString question =
            QStringLiteral("<b>%1</b> already holds data.<br>Append the new results to it, or replace "
                           "everything it holds?")
                .arg(QDir::toNativeSeparators(filePath).toHtmlEscaped());
        ConfirmationDialog dialog(question, QStringLiteral("Append"), QStringLiteral("Replace"),
                                  QApplication::activeWindow());
        dialog.setDefaultButton(ConfirmationDialog::DefaultButton::Cancel);
        if (dialog.exec() == QDialog::Accepted && !opened->resize(0)) {
            return refuseStart(QStringLiteral("%1 cannot be emptied (%2).")
                                   .arg(QDir::toNativeSeparators(filePath), opened->errorString()));
        }
    }
    const bool empty = opened->size() == 0;
    file = std::move(opened);
    stream = std::make_unique<QTextStream>(file.get());
    stream->setCodec("UTF-8");
    m_fileDelimiter = SettingsController::instance()->fileFieldDelimiter(filePath);
    m_rowsWritten = 0;
    // Added to a file that holds rows already, the titles would land between them.
    if (empty && SettingsController::instance()->headerRow.value()) {
        writeHeader(*stream, m_fileDelimiter);
        stream->flush();
    }
    return true;
}

void ApplicationController::writeNewRows()
{
    if (!stream) {
        return;
    }
    const DataFeedTableModel* model = feed();
    // Waiting results follow the stored rows; they are written once they are stored.
    const int rows = model->storedRowCount();
    if (rows == 0) {
        // Cleared: the numbering starts again at 1.
        m_writtenCount = 0;
        return;
    }
    const auto countAt = [model](int row) {
        return model->index(row, DataFeedTableModel::CountColumn).data().toLongLong();
    };
    // New rows come at the end; a row put back after its deletion has been written already.
    int first = rows;
    while (first > 0 && countAt(first - 1) > m_writtenCount) {
        --first;
    }
    if (first == rows) {
        return;
    }
    m_rowsWritten += writeRows(*stream, first, rows - 1, m_fileDelimiter);
    m_writtenCount = countAt(rows - 1);
    // Flushed to the system at once (the text stream flushes its file too), so that a closed or
    // killed program leaves every result sent so far in the file; on the disk within DiskSyncMs, so
    // that a power cut loses no more than the database's own commit bound.
    stream->flush();
    if (!m_diskSyncTimer.isActive()) {
        m_diskSyncTimer.start();
    }
    if ((stream->status() != QTextStream::Ok || file->error() != QFileDevice::NoError) &&
        !m_writeFailureReported) {
        m_writeFailureReported = true;
        qCWarning(lcController) << "the export file was not written completely:" << filePath
                                << file->errorString();
    }
}

void ApplicationController::showStopDialog()
{
    if (!m_stopDialogFactory || !m_exporting) {
        return;
    }
    QDialog* dialog = m_stopDialogFactory();
    if (!dialog) {
        return;
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        dialog->move(screen->geometry().width() - StopDialogRightOffset, 0);
    }
    dialog->exec();
    delete dialog;
    emit show();
}

bool ApplicationController::stopExport()
{
    if (file && !feedIsEmpty()) {
        const QString question =
            QStringLiteral("Select <b>Continue</b> to go on capturing data or <b>Finish and "
                           "save</b> to save the data to ") +
            filePath;
        bool finish;
        if (m_finishQuestion) {
            finish = m_finishQuestion(question);
        } else {
            ConfirmationDialog dialog(question, QStringLiteral("Continue"), QStringLiteral("Finish and save"),
                                      QApplication::activeWindow());
            finish = dialog.exec() == QDialog::Accepted;
        }
        // Continue: the capture goes on exactly as it was, its controls and the typing included.
        // Finish and save: every result is in the file already.
        if (!finish) {
            return false;
        }
    }
    SettingsController* settings = SettingsController::instance();
    settings->autoSend.setEnabled(true);
    settings->autoSendInterval.setEnabled(true);
    settings->autoSendUnit.setEnabled(true);
    // Results that came before the stop are stored, and typed, before the typing ends.
    CaptureCore::instance()->flush();
    disconnect(m_pasteConnection);
    finishExport();
    return true;
}

void ApplicationController::finishExport()
{
    for (const QMetaObject::Connection& connection : qAsConst(m_rowsConnections)) {
        disconnect(connection);
    }
    m_rowsConnections.clear();
    m_diskSyncTimer.stop();
    if (stream) {
        stream->flush();
        stream.reset();
    }
    if (file) {
        syncToDisk(*file);
        file->close();
        file.reset();
        RequestNotice::instance()->say(writtenText(m_rowsWritten, filePath));
    }
    autoSendTimer.stop();
    elapsedTimer.stop();
    m_exporting = false;
    emit elapsedTimeSig(elapsedSeconds);
    emit exportStopped();
}

QString ApplicationController::askForFile(bool appending) const
{
    if (m_fileChooser) {
        return m_fileChooser();
    }
    PelmFileDialog dialog(QStringLiteral("FilePath"), QApplication::activeWindow());
    dialog.setOption(QFileDialog::DontConfirmOverwrite, appending);
    return dialog.saveFile(QString::fromLatin1(FileFilter));
}

bool ApplicationController::saveData()
{
    if (feedIsEmpty()) {
        return false;
    }
    const QString path = askForFile();
    if (path.isEmpty()) {
        return false;
    }
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        qCWarning(lcController) << "cannot write" << path << out.errorString();
        return false;
    }
    QTextStream text(&out);
    text.setCodec("UTF-8");
    const bool written = writeTable(text, path);
    text.flush();
    out.close();
    if (!written || out.error() != QFileDevice::NoError) {
        // Say so rather than leave a half-written file that looks complete.
        qCWarning(lcController) << "the export file was not written completely:" << path << out.errorString();
        return false;
    }
    RequestNotice::instance()->say(writtenText(feed()->rowCount(), path));
    return true;
}

bool ApplicationController::writeTable(QTextStream& out, const QString& path) const
{
    const SettingsController* settings = SettingsController::instance();
    const QString delimiter = settings->fileFieldDelimiter(path);
    if (settings->headerRow.value()) {
        writeHeader(out, delimiter);
    }
    writeRows(out, 0, feed()->rowCount() - 1, delimiter);
    out.flush();
    return out.status() == QTextStream::Ok;
}

namespace {

// The columns of the captured table that the options show, in order.
QList<int> shownColumns()
{
    const SettingsController* settings = SettingsController::instance();
    QList<int> shown;
    for (int column = 0; column < DataFeedTableModel::ColumnCount; ++column) {
        if (settings->isFeedColumnShown(column)) {
            shown.append(column);
        }
    }
    return shown;
}

// A stored date as the exports write it; a text that is no such date stays as it is.
QString exportedDate(const QString& stored)
{
    const QDate date = QDate::fromString(stored, QLatin1String(DataFeedTableModel::DateFormat));
    return date.isValid() ? date.toString(SettingsController::instance()->dateFormat()) : stored;
}

} // namespace

void ApplicationController::writeHeader(QTextStream& out, const QString& delimiter) const
{
    const QString lineEnd = SettingsController::instance()->lineDelimiter();
    QStringList titles;
    for (int column : shownColumns()) {
        const QString title = feed()->headerData(column, Qt::Horizontal).toString();
        titles << ExportField::quoted(title, delimiter, lineEnd);
    }
    out << titles.join(delimiter) << lineEnd;
}

int ApplicationController::writeRows(QTextStream& out, int first, int last, const QString& delimiter) const
{
    const QString lineEnd = SettingsController::instance()->lineDelimiter();
    const QAbstractItemModel* model = feed();
    const QList<int> shown = shownColumns();
    for (int row = first; row <= last; ++row) {
        for (int i = 0; i < shown.size(); ++i) {
            QString text = model->index(row, shown.at(i)).data(Qt::DisplayRole).toString();
            if (shown.at(i) == DataFeedTableModel::DateColumn) {
                text = exportedDate(text);
            }
            out << ExportField::quoted(text, delimiter, lineEnd);
            if (i + 1 < shown.size()) {
                out << delimiter;
            }
        }
        out << lineEnd;
    }
    return qMax(0, last - first + 1);
}

void ApplicationController::restoreFile(const QString& path)
{
    SettingsController* settings = SettingsController::instance();
    if (settings->saveToFile.value()) {
        return;
    }
    m_restoredFile = path;
    settings->saveToFile.setState(true);
    m_restoredFile.clear();
}

void ApplicationController::chooseFile(bool enabled)
{
    if (!enabled) {
        filePath.clear();
        emit newFilePath(filePath);
        return;
    }
    const QString chosen = m_restoredFile.isEmpty() ? askForFile(true) : m_restoredFile;
    if (chosen.isEmpty()) {
        SettingsController::instance()->saveToFile.setState(false);
        return;
    }
    filePath = chosen;
    emit newFilePath(filePath);
}

QString ApplicationController::formatLine(const Measurement& m) const
{
    return formatRow(feed()->nextCount() - 1, CaptureCore::rowFields(m));
}

QString ApplicationController::formatRow(qint64 count, const QStringList& fields) const
{
    const SettingsController* settings = SettingsController::instance();
    const QString fieldDelimiter = settings->fieldDelimiter();
    QString line;
    if (settings->countField.value()) {
        line += QString::number(count) + fieldDelimiter;
    }
    // The row's own fields, from DATE on, in the table's order; the note is never typed.
    for (int column = DataFeedTableModel::DateColumn; column < DataFeedTableModel::NoteColumn; ++column) {
        if (settings->isFeedColumnShown(column)) {
            const QString field = fields.value(column - DataFeedTableModel::DateColumn);
            line += (column == DataFeedTableModel::DateColumn ? exportedDate(field) : field) + fieldDelimiter;
        }
    }
    if (!fieldDelimiter.isEmpty()) {
        line.chop(fieldDelimiter.size());
    }
    return line + settings->lineDelimiter();
}

void ApplicationController::pasteResult(Measurement m)
{
    typeLine(formatLine(m));
}

void ApplicationController::typeLine(const QString& line)
{
    cursorPaste.keysArrived(new QVector<Keys>());
    cursorPaste.messageArrived(line, true);
}
