#include "ui/log/auditdialog.h"

#include "log/chaincheck.h"
#include "ui/log/tableexport.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQueryModel>
#include <QTableView>
#include <QVBoxLayout>

namespace {
// The actions in words; the table keeps the short names that scripts read.
const char* const TrailQuery =
    "SELECT STAMP, USER, CASE ACTION WHEN 'DELETE' THEN 'Deleted' WHEN 'NOTE' THEN 'Note edited' "
    "WHEN 'RESTORE' THEN 'Deletion undone' WHEN 'CLEAR' THEN 'All deleted' ELSE ACTION END, "
    "COUNT, SN, OLD, NEW, REASON, VERSION FROM AUDIT ORDER BY ID DESC";
const char* const Headings[] = {"When",      "User",      "Action", "Count",  "Serial number",
                                "Old value", "New value", "Reason", "Version"};
constexpr int MaxFindingsShown = 5;
} // namespace

AuditDialog::AuditDialog(QWidget* parent)
    : QDialog(parent), m_model(new QSqlQueryModel(this)), m_table(new QTableView(this)),
      m_checkLabel(new QLabel(this)), m_verifyButton(new QPushButton(QStringLiteral("Verify all"))),
      m_check(new ChainCheck(this))
{
    setWindowTitle(QStringLiteral("Audit trail"));
    resize(900, 480);
    m_table->setObjectName(QStringLiteral("auditTable"));
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_checkLabel->setObjectName(QStringLiteral("checkLabel"));
    m_checkLabel->setWordWrap(true);
    m_checkLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* exportButton = buttons->addButton(QStringLiteral("Export..."), QDialogButtonBox::ActionRole);
    buttons->addButton(m_verifyButton, QDialogButtonBox::ActionRole);
    m_verifyButton->setObjectName(QStringLiteral("verifyButton"));
    connect(exportButton, &QPushButton::clicked, this, [this] { exportTo(); });
    connect(m_verifyButton, &QPushButton::clicked, this, &AuditDialog::verifyAll);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_check, &ChainCheck::finished, this, [this](const ChainVerifier::Report& report) {
        m_verifyButton->setEnabled(true);
        const QLocale english(QLocale::English, QLocale::UnitedStates);
        QString text;
        if (report.holds()) {
            text = QStringLiteral("Everything holds: %1 links, %2 results checked")
                       .arg(english.toString(report.links), english.toString(report.rows));
        } else {
            const QStringList shown = report.findings.mid(0, MaxFindingsShown);
            text = QStringLiteral("Changed outside the program: ") + shown.join(QStringLiteral("; "));
            if (report.findings.size() > shown.size()) {
                text += QStringLiteral("; %1 more (mervik-cli verify lists all)")
                            .arg(report.findings.size() - shown.size());
            }
        }
        if (report.notCovered > 0) {
            text += QStringLiteral(". %1 older results are not covered: stored before the chain began")
                        .arg(english.toString(report.notCovered));
        }
        m_checkLabel->setText(text);
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addWidget(m_checkLabel);
    layout->addWidget(buttons);
    reload();
}

void AuditDialog::reload()
{
    m_model->setQuery(QLatin1String(TrailQuery), QSqlDatabase::database());
    for (int i = 0; i < int(sizeof(Headings) / sizeof(Headings[0])); ++i) {
        m_model->setHeaderData(i, Qt::Horizontal, QLatin1String(Headings[i]));
    }
    m_table->resizeColumnsToContents();
}

bool AuditDialog::exportTo(const QString& path)
{
    return TableExport::save(this, m_model, QStringLiteral("AuditToCsv"), path, 0, false,
                             QStringLiteral("line"));
}

void AuditDialog::verifyAll()
{
    m_verifyButton->setEnabled(false);
    m_checkLabel->setText(QStringLiteral("Checking every link..."));
    m_check->start(QSqlDatabase::database().databaseName(), 0);
}
