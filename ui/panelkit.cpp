#include "ui/panelkit.h"

#include "ui/capture/applicationcontroller.h"
#include "ui/clickableframe.h"
#include "ui/confirmationdialog.h"
#include "ui/icontint.h"

#include <QAbstractButton>
#include <QIcon>
#include <QLabel>
#include <QVariant>

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
    if (label) {
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    auto paint = [label, buttons](bool hovered) {
        if (label) {
            label->setStyleSheet(hovered ? QStringLiteral("color: #ffffff;")
                                         : QStringLiteral("color: #000000;"));
        }
        // The icons go white on the dark hover background and come back as they were, unless
        // something gave a button a new icon meanwhile.
        for (QAbstractButton* button : buttons) {
            if (hovered) {
                button->setProperty("normalIcon", button->icon());
                IconTint::tintButton(button, Qt::white);
                button->setProperty("hoverIcon", button->icon().cacheKey());
            } else if (button->property("hoverIcon").toLongLong() == button->icon().cacheKey()) {
                button->setIcon(button->property("normalIcon").value<QIcon>());
            }
        }
    };
    paint(false);
    QObject::connect(frame, &ClickableFrame::hoverIn, frame, [paint] { paint(true); });
    QObject::connect(frame, &ClickableFrame::hoverOut, frame, [paint] { paint(false); });
}

void showNotice(const QString& text, QWidget* parent)
{
    ConfirmationDialog dialog(text, QStringLiteral("OK"), QString(), parent);
    dialog.exec();
}

void showStartFailure(QWidget* parent)
{
    const QString reason = ApplicationController::instance()->startFailure();
    showNotice(reason.isEmpty() ? QStringLiteral("Failed to start exporting")
                                : QStringLiteral("Failed to start exporting: ") + reason.toHtmlEscaped(),
               parent);
}

} // namespace PanelKit
