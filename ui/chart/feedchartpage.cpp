#include "ui/chart/feedchartpage.h"

#include "controller/ccontrollerinterface.h"
#include "device/cdevice.h"
#include "log/datafeedtablemodel.h"
#include "log/feedrecords.h"
#include "ui/chart/feedchartview.h"
#include "ui/chart/feedseries.h"
#include "ui/chart/feedstatisticspanel.h"
#include "ui/log/pelmfiledialog.h"
#include "ui/report/weighingreport.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

FeedChartPage::FeedChartPage(QWidget* parent)
    : QWidget(parent), m_series(new FeedSeries(this)), m_chart(new FeedChartView(this)),
      m_statistics(new FeedStatisticsPanel(this)), m_side(new QVBoxLayout), m_outcome(new QLabel(this)),
      m_report(new QPushButton(QStringLiteral("Report..."), this))
{
    setObjectName(QStringLiteral("feedChartPage"));
    m_outcome->setObjectName(QStringLiteral("reportOutcome"));
    m_outcome->setWordWrap(true);
    m_report->setObjectName(QStringLiteral("reportButton"));
    m_report->setAccessibleName(QStringLiteral("Save a weighing report"));

    m_side->addWidget(m_statistics);
    m_side->addStretch(1);
    m_side->addWidget(m_outcome);
    m_side->addWidget(m_report);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_chart, 1);
    layout->addLayout(m_side);

    m_chart->setSeries(m_series);
    m_statistics->setSeries(m_series);
    connect(m_report, &QPushButton::clicked, this, &FeedChartPage::saveReport);
}

void FeedChartPage::setModel(DataFeedTableModel* model)
{
    m_series->setModel(model);
}

void FeedChartPage::setSelectionModel(QItemSelectionModel* selection)
{
    m_series->setSelectionModel(selection);
}

void FeedChartPage::lendStatistics(QBoxLayout* layout)
{
    if (layout->indexOf(m_statistics) >= 0) {
        return;
    }
    m_side->removeWidget(m_statistics);
    layout->addWidget(m_statistics);
    // A widget given a new parent is hidden until shown again.
    m_statistics->show();
}

void FeedChartPage::placeStatistics()
{
    if (m_side->indexOf(m_statistics) >= 0) {
        return;
    }
    if (QWidget* holder = m_statistics->parentWidget()) {
        if (QLayout* layout = holder->layout()) {
            layout->removeWidget(m_statistics);
        }
    }
    m_side->insertWidget(0, m_statistics);
    m_statistics->show();
}

bool FeedChartPage::writeReport(const QString& path, QString& error)
{
    WeighingReport report;
    // What the chart shows: the selected rows or every one.
    m_series->refresh();
    const QVector<FeedRecord> records = m_series->records();
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
    if (m_series->rowsTaken() == int(records.size()) && m_series->chart().pointCount() > 0) {
        report.setChart(m_series->chart());
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
