#pragma once

#include <QWidget>

namespace Ui {
class TransferWidget;
}

// The "Transfer" page: every option of a capture export, and "Apply" that starts one.
class TransferWidget : public QWidget
{
    Q_OBJECT
public:
    explicit TransferWidget(QWidget* parent = nullptr);
    ~TransferWidget() override;

signals:
    void changeToData();

public slots:
    void setFilePath(QString path);

private:
    void apply();

    Ui::TransferWidget* ui;
};
