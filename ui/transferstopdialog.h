#pragma once

#include <QDialog>
#include <QPoint>

namespace Ui {
class TransferStopDialog;
}

// The small window that stays on top while results are typed into another program: it shows the
// elapsed time and stops the capture. It takes no focus, so the typing goes where the user left it.
class TransferStopDialog : public QDialog
{
    Q_OBJECT
public:
    explicit TransferStopDialog(QWidget* parent = nullptr);
    ~TransferStopDialog() override;

public slots:
    // Closing the window is asking to stop: it never goes away while the capture runs.
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void stop();
    // The drag steps; each returns true when the event belonged to a drag.
    bool dragPress(QMouseEvent* event);
    bool dragMove(QMouseEvent* event);
    bool dragRelease(QMouseEvent* event);

    Ui::TransferStopDialog* ui;
    bool m_pressed = false;
    bool m_dragging = false;
    QPoint m_pressPos;
    QPoint m_dragOffset;
};
