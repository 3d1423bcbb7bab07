#include "ui/chart/feedchartpage.h"

#include "controller/ccontrollerinterface.h"
#include "device/cdevice.h"
#include "log/datafeedtablemodel.h"
#include "log/feedrecords.h"
#include "ui/chart/feedchartview.h"
#include "ui/log/pelmfiledialog.h"
#include "ui/report/weighingreport.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

FeedChartPage::FeedChartPage(QWidget* parent)
    : QWidget(parent), m_chart(new FeedChartView(this)), m_figures(new QLabel(this)),
      m_outcome(new QLabel(this)), m_report(new QPushButton(QStringLiteral("Report..."), this))
{
    setObjectName(QStringLiteral("feedChartPage"));
    m_figures->setObjectName(QStringLiteral("feedStatistics"));
    m_figures->setAccessibleName(QStringLiteral("Statistics of the captured results"));
    m_figures->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_figures->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_outcome->setObjectName(QStringLiteral("reportOutcome"));
    m_outcome->setWordWrap(true);
    m_report->setObjectName(QStringLiteral("reportButton"));
    m_report->setAccessibleName(QStringLiteral("Save a weighing report"));

    auto* side = new QVBoxLayout;
    side->addWidget(m_figures);
    side->addStretch(1);
    side->addWidget(m_outcome);
    side->addWidget(m_report);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_chart, 1);
    layout->addLayout(side);

    connect(m_chart, &FeedChartView::updated, this, &FeedChartPage::showStatistics);
    connect(m_report, &QPushButton::clicked, this, &FeedChartPage::saveReport);
    showStatistics();
}

void FeedChartPage::setModel(DataFeedTableModel* model)
{
    m_chart->setModel(model);
    showStatistics();
}

void FeedChartPage::showStatistics()
{
    const FeedStatistics& s = m_chart->statistics();
    const QString unit = s.unit();
    const auto figure = [&](const QString& text, const QString& suffix) {
        return text.isEmpty() ? QStringLiteral("-") : QStringLiteral("%1 %2").arg(text, suffix).trimmed();
    };
    QString rows = QStringLiteral("<table cellspacing=\"4\">");
    const auto row = [&](const QString& name, const QString& value) {
        rows += QStringLiteral("<tr><td>%1</td><td align=\"right\"><b>%2</b></td></tr>")
                    .arg(name.toHtmlEscaped(), value.toHtmlEscaped());
    };
    row(QStringLiteral("Results"), QString::number(s.count()));
    row(QStringLiteral("Mean"), figure(s.mean(), unit));
    row(QStringLiteral("Standard deviation"), figure(s.standardDeviation(), unit));
    row(QStringLiteral("Coefficient of variation"), figure(s.coefficientOfVariation(), QStringLiteral("%")));
    row(QStringLiteral("Minimum"), figure(s.minimum(), unit));
    row(QStringLiteral("Maximum"), figure(s.maximum(), unit));
    row(QStringLiteral("Range"), figure(s.range(), unit));
    if (s.otherUnitCount() > 0) {
        row(QStringLiteral("Left out (other unit)"), QString::number(s.otherUnitCount()));
    }
    if (s.unreadableCount() > 0) {
        row(QStringLiteral("Left out (not a number)"), QString::number(s.unreadableCount()));
    }
    m_figures->setText(rows + QStringLiteral("</table>"));
}

bool FeedChartPage::writeReport(const QString& path, QString& error)
{
    WeighingReport report;
    const QVector<FeedRecord> records =
        m_chart->model() ? FeedRecords::fromModel(m_chart->model()) : QVector<FeedRecord>();
    report.setRecords(records);
    WeighingReport::Instrument instrument;
    if (CDevice* device = CControllerInterface::currentDevice()) {
        instrument.model = device->model();
        instrument.serial = device->serialNumber();
        instrument.firmware = device->firmware();
    }
    if (instrument.serial.isEmpty()) {
        instrument.serial = WeighingReport::serialsOf(records);
    }
    report.setInstrument(instrument);
    // The chart on the page knows which live results were stable; it holds every row once it has
    // read them all.
    m_chart->refresh();
    if (m_chart->rowsTaken() == int(records.size()) && m_chart->chart().pointCount() > 0) {
        report.setChart(m_chart->chart());
    }
    return report.write(path, error);
}

void FeedChartPage::saveReport()
{
    PelmFileDialog dialog(QStringLiteral("ReportPath"), this);
    QString path = dialog.saveFile(QStringLiteral("PDF (*.pdf)"));
    if (path.isEmpty()) {
        return;
    }
    if (!path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)) {
        path += QLatin1String(".pdf");
    }
    QString error;
    m_outcome->setText(writeReport(path, error) ? QStringLiteral("Report saved: %1").arg(path)
                                                : QStringLiteral("Report not saved: %1").arg(error));
}
