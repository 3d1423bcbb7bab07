#pragma once

#include <QFrame>

// A frame used as a large button. It exposes "pressed" as a dynamic property so that style sheets can
// draw the pressed look with [pressed="true"] / [pressed="false"].
class ClickableFrame : public QFrame
{
    Q_OBJECT
public:
    explicit ClickableFrame(QWidget* parent = nullptr);

signals:
    void clicked(bool checked);
    void hoverIn();
    void hoverOut();
    void resized();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setPressed(bool pressed);
};
