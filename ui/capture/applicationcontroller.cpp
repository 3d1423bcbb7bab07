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
#include "ui/settings/settingscontroller.h"

#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QScreen>
#include <QTextStream>

#include <cmath>
#include <limits>

const char* const ApplicationController::FileFilter =
    "All files (*.*);;Csv files (*.csv);;Text files (*.txt)";

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
    if (file || !device || device->state() != STATE_CONNECTED) {
        qCDebug(lcController) << "Nei mozna wystartować!";
        return false;
    }
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
    elapsedTimer.start();
    m_exporting = true;
    emit exportStarted();
    return true;
}

bool ApplicationController::openExportFile()
{
    if (filePath.isEmpty()) {
        qCWarning(lcController) << "no export file chosen";
        return false;
    }
    // Opened to add at the end: a capture never empties a file unless the user says so.
    auto opened = std::make_unique<QFile>(filePath);
    if (!opened->open(QIODevice::Append | QIODevice::Text)) {
        qCWarning(lcController) << "cannot open the export file" << filePath << opened->errorString();
        return false;
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
            qCWarning(lcController) << "cannot empty the export file" << filePath << opened->errorString();
            return false;
        }
    }
    file = std::move(opened);
    stream = std::make_unique<QTextStream>(file.get());
    stream->setCodec("UTF-8");
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
    writeRows(*stream, first, rows - 1);
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
            QStringLiteral(
                "Select <b>CANCEL</b> to continue capturing data or <b>FINISH</b> to save data to ") +
            filePath;
        bool finish;
        if (m_finishQuestion) {
            finish = m_finishQuestion(question);
        } else {
            ConfirmationDialog dialog(question, QStringLiteral("CANCEL"), QStringLiteral("FINISH"),
                                      QApplication::activeWindow());
            finish = dialog.exec() == QDialog::Accepted;
        }
        // CANCEL: the capture goes on exactly as it was, its controls and the typing included.
        // FINISH: every result is in the file already.
        if (!finish) {
            return false;
        }
    }
    SettingsController* settings = SettingsController::instance();
    settings->autoSend.setEnabled(true);
    settings->autoSendInterval.setEnabled(true);
    settings->autoSendUnit.setEnabled(true);
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
    const bool written = writeTable(text);
    text.flush();
    out.close();
    if (!written || out.error() != QFileDevice::NoError) {
        // Say so rather than leave a half-written file that looks complete.
        qCWarning(lcController) << "the export file was not written completely:" << path << out.errorString();
        return false;
    }
    return true;
}

bool ApplicationController::writeTable(QTextStream& out) const
{
    writeRows(out, 0, feed()->rowCount() - 1);
    out.flush();
    return out.status() == QTextStream::Ok;
}

void ApplicationController::writeRows(QTextStream& out, int first, int last) const
{
    const SettingsController* settings = SettingsController::instance();
    const QString fieldDelimiter = settings->fieldDelimiter();
    const QString lineEnd = settings->lineDelimiter();
    const QAbstractItemModel* model = feed();
    QList<int> shown;
    for (int column = 0; column < model->columnCount(); ++column) {
        if (settings->isFeedColumnShown(column)) {
            shown.append(column);
        }
    }
    for (int row = first; row <= last; ++row) {
        for (int i = 0; i < shown.size(); ++i) {
            const QString text = model->index(row, shown.at(i)).data(Qt::DisplayRole).toString();
            out << ExportField::quoted(text, fieldDelimiter, lineEnd);
            if (i + 1 < shown.size()) {
                out << fieldDelimiter;
            }
        }
        out << lineEnd;
    }
}

void ApplicationController::chooseFile(bool enabled)
{
    if (!enabled) {
        filePath.clear();
        emit newFilePath(filePath);
        return;
    }
    const QString chosen = askForFile(true);
    if (chosen.isEmpty()) {
        SettingsController::instance()->saveToFile.setState(false);
        return;
    }
    filePath = chosen;
    emit newFilePath(filePath);
}

QString ApplicationController::formatLine(const Measurement& m) const
{
    return formatRow(feed()->nextCount() - 1, CaptureCore::rowFields(m, QDateTime::currentDateTime()));
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
            line += fields.value(column - DataFeedTableModel::DateColumn) + fieldDelimiter;
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
