#pragma once

#include "ui/selectioncontrol.h"

#include <QColor>

class Animator;

// A toggle switch: a rounded track with a round thumb that slides to the right when on. The thumb's
// position and the colours are properties so that Animator can move them.
class Switch : public SelectionControl
{
    Q_OBJECT
    Q_PROPERTY(qreal position READ position WRITE setPosition)
    Q_PROPERTY(QColor thumbColor READ thumbColor WRITE setThumbColor)
    Q_PROPERTY(QColor trackColor READ trackColor WRITE setTrackColor)
public:
    explicit Switch(QWidget* parent = nullptr);
    explicit Switch(const QString& text, QWidget* parent = nullptr);

    // 0 with the thumb on the left (off), 1 on the right (on).
    qreal position() const { return m_position; }
    void setPosition(qreal position);
    QColor thumbColor() const { return m_thumbColor; }
    void setThumbColor(const QColor& color);
    QColor trackColor() const { return m_trackColor; }
    void setTrackColor(const QColor& color);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void onToggled(bool checked);
    // The colours that the current checked and enabled states call for.
    QColor targetThumbColor() const;
    QColor targetTrackColor() const;

    qreal m_position = 0;
    QColor m_thumbColor;
    QColor m_trackColor;
    Animator* m_positionAnimator;
    Animator* m_thumbAnimator;
    Animator* m_trackAnimator;
};
