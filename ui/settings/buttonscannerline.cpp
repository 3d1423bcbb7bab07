#include "ui/settings/buttonscannerline.h"

#include <QKeyEvent>
#include <QKeySequence>

ButtonScannerLine::ButtonScannerLine(QWidget* parent) : QLineEdit(parent)
{
    // The text is a recorded key, never typed.
    setReadOnly(true);
    setAlignment(Qt::AlignCenter);
}

void ButtonScannerLine::mousePressEvent(QMouseEvent* event)
{
    QLineEdit::mousePressEvent(event);
    startScanning();
}

void ButtonScannerLine::startScanning()
{
    m_scanning = true;
    setText(QStringLiteral("><"));
}

void ButtonScannerLine::keyPressEvent(QKeyEvent* event)
{
    // While scanning the key is taken on release; nothing is typed either way.
    event->accept();
}

void ButtonScannerLine::keyReleaseEvent(QKeyEvent* event)
{
    const bool opens =
        event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    // From the keyboard as by a click: Space or Return, then the key to record.
    if (!m_scanning && !event->isAutoRepeat() && event->modifiers() == Qt::NoModifier && opens) {
        event->accept();
        startScanning();
        return;
    }
    if (!m_scanning || event->isAutoRepeat()) {
        QLineEdit::keyReleaseEvent(event);
        return;
    }
    event->accept();
    const int key = event->key();
    if (key == Qt::Key_Escape || key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt ||
        key == Qt::Key_unknown) {
        endScanning(m_savedText);
        return;
    }
    m_savedText = QKeySequence(key).toString(QKeySequence::PortableText);
    endScanning(m_savedText);
}

void ButtonScannerLine::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    if (m_scanning) {
        endScanning(m_savedText);
    }
}

void ButtonScannerLine::endScanning(const QString& text)
{
    m_scanning = false;
    setText(text);
}
