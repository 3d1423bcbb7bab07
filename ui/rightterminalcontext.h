#pragma once

#include <QWidget>

namespace Ui {
class RightTerminalContext;
}

// The side panel of the terminal: which log columns to show, raw chunks or lines, the connection
// check, and test commands that go into the command line.
class RightTerminalContext : public QWidget
{
    Q_OBJECT
public:
    explicit RightTerminalContext(QWidget* parent = nullptr);
    ~RightTerminalContext() override;

signals:
    void pasteCommand(QString command);
    void filterRequested();
    void exportLinesRequested();
    void exportReceivedRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Narrow panels keep only the commands' names.
    void fitTestFrames();
    void followDeviceEcho();

    Ui::RightTerminalContext* ui;
};
