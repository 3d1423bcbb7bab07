#pragma once

#include <QWidget>

namespace Ui {
class RightExportContext;
}

// The side panel of the data feed and the display: the fields of a result and the auto-send speed,
// bound to the same option values as the transfer page.
class RightExportContext : public QWidget
{
    Q_OBJECT
public:
    explicit RightExportContext(QWidget* parent = nullptr);
    ~RightExportContext() override;

signals:
    void swapToTransfer();

private:
    Ui::RightExportContext* ui;
};
