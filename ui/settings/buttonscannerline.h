#pragma once

#include <QLineEdit>

// A line that records a hotkey: click it (or press Space or Return on it), press a key, and the key's
// name becomes its text.
class ButtonScannerLine : public QLineEdit
{
    Q_OBJECT
public:
    explicit ButtonScannerLine(QWidget* parent = nullptr);

    bool isScanning() const { return m_scanning; }
    QString savedText() const { return m_savedText; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void startScanning();
    void endScanning(const QString& text);

    bool m_scanning = false;
    QString m_savedText;
};
