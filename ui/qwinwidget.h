#pragma once

#include <QPoint>
#include <QRect>
#include <QWidget>

class MainWindow;
class QVBoxLayout;

// The program's top-level window: frameless, with its own resize borders and a title bar that moves
// it, holding the main window. On X11 the window manager moves and resizes it when it can; without
// one (a bare X server) the window follows the pointer itself.
class QWinWidget : public QWidget
{
    Q_OBJECT
public:
    // Small enough for a 1280x720 screen with a panel; the pages scroll where they need more room.
    static constexpr int MinimumWidth = 1024;
    static constexpr int MinimumHeight = 640;
    static constexpr int MainMinimumWidth = MinimumWidth;
    static constexpr int MainMinimumHeight = MinimumHeight;
    // How near an edge a press resizes the window.
    static constexpr int BorderWidth = 8;

    explicit QWinWidget(QWidget* parent = nullptr);
    ~QWinWidget() override;

    MainWindow* mainWindow() const { return m_mainWindow; }

    // The resize edges at pos (window coordinates); none while maximised.
    Qt::Edges edgesAt(const QPoint& pos) const;

public slots:
    void onRestoreButtonClicked();
    void onMaximizeButtonClicked();
    void onMinimizeButtonClicked();
    void onCloseButtonClicked();
    // F11: full screen, and back to the maximised or normal window it was.
    void toggleFullScreen();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    enum class Drag
    {
        None,
        // Pressed on the title bar; moves once the pointer does.
        MovePending,
        Move,
        Resize
    };

    bool onWindowMouseEvent(QEvent* event);
    bool isOnTitleBar(const QPoint& pos) const;
    void showEdgeCursor(Qt::Edges edges);
    void followPointer(const QPoint& globalPos);

    QVBoxLayout* m_layout;
    MainWindow* m_mainWindow;
    Drag m_drag = Drag::None;
    Qt::Edges m_dragEdges;
    QPoint m_pressGlobal;
    QRect m_pressGeometry;
    Qt::Edges m_cursorEdges;
    bool m_overrideCursor = false;
};
