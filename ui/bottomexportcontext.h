#pragma once

#include <QWidget>

namespace Ui {
class BottomExportContext;
}

// The row of large buttons under the data feed and the display: elapsed time, auto send, clearing,
// the instrument's keys and the export of the captured table.
class BottomExportContext : public QWidget
{
    Q_OBJECT
public:
    explicit BottomExportContext(QWidget* parent = nullptr);
    ~BottomExportContext() override;

signals:
    void clearContents();

private:
    Ui::BottomExportContext* ui;
};
