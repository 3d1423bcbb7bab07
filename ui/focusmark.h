#pragma once

#include <QPointer>
#include <QWidget>

// The ring drawn around whatever the keyboard moved the focus to, above the window's other widgets,
// so that every Tab stop shows where it is, whatever the style sheets of the pages draw or hide. A
// pointer click that moves the focus takes it away.
class FocusMark : public QWidget
{
    Q_OBJECT
public:
    static constexpr int Margin = 2;

    // Starts following the keyboard focus (once per program).
    static void install();
    // The widget the ring is around, if it shows one.
    static QWidget* target();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

public:
    // A window's ring, made when the keyboard first moves the focus in it.
    explicit FocusMark(QWidget* window);
    // Around widget, a child of this ring's window; none hides it.
    void follow(QWidget* widget);

private:
    void place();
    void watchChain(bool watch);

    QPointer<QWidget> m_target;
};
