#include "ui/panelkit.h"

#include "ui/clickableframe.h"
#include "ui/confirmationdialog.h"

#include <QAbstractButton>
#include <QLabel>

namespace PanelKit {

QString elapsedText(int seconds)
{
    const int total = qMax(0, seconds);
    return QStringLiteral("%1:%2")
        .arg(total / 60, 2, 10, QLatin1Char('0'))
        .arg(total % 60, 2, 10, QLatin1Char('0'));
}

void makeFrameButton(ClickableFrame* frame, QLabel* label)
{
    frame->setCursor(Qt::PointingHandCursor);
    const QList<QAbstractButton*> buttons = frame->findChildren<QAbstractButton*>();
    for (QAbstractButton* button : buttons) {
        button->setAttribute(Qt::WA_TransparentForMouseEvents);
        button->setFocusPolicy(Qt::NoFocus);
    }
    if (!label) {
        return;
    }
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto paint = [label](bool hovered) {
        label->setStyleSheet(hovered ? QStringLiteral("color: #ffffff;") : QStringLiteral("color: #000000;"));
    };
    paint(false);
    QObject::connect(frame, &ClickableFrame::hoverIn, label, [paint] { paint(true); });
    QObject::connect(frame, &ClickableFrame::hoverOut, label, [paint] { paint(false); });
}

void showNotice(const QString& text, QWidget* parent)
{
    ConfirmationDialog dialog(text, QStringLiteral("OK"), QString(), parent);
    dialog.exec();
}

} // namespace PanelKit
