#pragma once

#include <QString>

class ClickableFrame;
class QLabel;
class QWidget;

// Small pieces shared by the capture page's panels, the transfer page and the stop dialog.
namespace PanelKit {

// Minutes (at least two digits), ":" and seconds: 75 s gives "01:15", one hour "60:00".
QString elapsedText(int seconds);

// The frame acts as one large button: the icon buttons and labels inside it let the mouse through,
// and the label and icons turn white while the pointer is over the frame (whose hover background
// is dark).
void makeFrameButton(ClickableFrame* frame, QLabel* label);

// The modal one-button notice used for refusals such as "Failed to start exporting".
void showNotice(const QString& text, QWidget* parent);

// Says that the capture export did not start, and why.
void showStartFailure(QWidget* parent);

} // namespace PanelKit
