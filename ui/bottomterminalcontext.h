#pragma once

#include <QWidget>

namespace Ui {
class BottomTerminalContext;
}

// The command line under the terminal, with sending, the elapsed time, start/stop and clearing.
class BottomTerminalContext : public QWidget
{
    Q_OBJECT
public:
    explicit BottomTerminalContext(QWidget* parent = nullptr);
    ~BottomTerminalContext() override;

signals:
    void clearContents();

public slots:
    void pasteCommand(QString command);

private:
    void sendCommand();

    Ui::BottomTerminalContext* ui;
};
