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
    static constexpr int MinimumWidth = 1450;
    static constexpr int MinimumHeight = 830;
    static constexpr int MainMinimumWidth = 1400;
    static constexpr int MainMinimumHeight = 800;
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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    enum class Drag
    {
        None,
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
