#pragma once

#include <QLabel>

// A label whose font follows its size, for the large reading of the display view.
class ResizableLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ResizableLabel(QWidget* parent = nullptr);

    // The point size that fits a label of this size: min(height / 2.4, width / 8.8), each truncated.
    static int pointSizeFor(const QSize& size);

protected:
    void resizeEvent(QResizeEvent* event) override;
};
