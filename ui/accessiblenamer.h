#pragma once

#include <QObject>

class QWidget;

// Gives every control the words of its label as the name a screen reader says: a button or check box
// its own text (its tool tip when it shows only an icon), a frame used as a button the text it shows,
// an entry field the label before it in its layout (its buddy label, placeholder text or group title
// otherwise). A name given in the code stays.
class AccessibleNamer : public QObject
{
    Q_OBJECT
public:
    // Names the controls of every window as it is shown (once per program).
    static void install();
    static void nameControls(QWidget* root);
    // A label's words as said: no markup, mnemonic, line breaks or closing colon.
    static QString spoken(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    using QObject::QObject;
};
