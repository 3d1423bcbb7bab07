#include "ui/pelmprogressdialog.h"

#include "platform/logcategories.h"

#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

PelmProgressDialog::PelmProgressDialog(const QString& text, QWidget* parent)
    : QDialog(parent), m_label(new QLabel(text))
{
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setModal(true);
    setMinimumWidth(360);
    setStyleSheet(QStringLiteral("QDialog { border: 2px solid #3b3b3b; background: white; }"
                                 "QWidget#titleStrip { background-color: #3b3b3b; }"
                                 "QWidget#titleStrip QLabel { color: #797979; padding: 14px 30px; }"
                                 "QProgressBar { border: none; background: #e6e6e6; max-height: 6px; }"
                                 "QProgressBar::chunk { background: #6fc420; }"));

    auto* strip = new QWidget;
    strip->setObjectName(QStringLiteral("titleStrip"));
    // Without this the style sheet background of a plain QWidget is not painted.
    strip->setAttribute(Qt::WA_StyledBackground, true);
    auto* stripLayout = new QVBoxLayout(strip);
    stripLayout->setContentsMargins(0, 0, 0, 0);
    m_label->setWordWrap(true);
    m_label->setAlignment(Qt::AlignCenter);
    stripLayout->addWidget(m_label);

    // The operations behind this notice report no progress, so the bar only shows that something runs.
    auto* bar = new QProgressBar;
    bar->setRange(0, 0);
    bar->setTextVisible(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(0);
    layout->addWidget(strip);
    layout->addSpacing(20);
    auto* barRow = new QHBoxLayout;
    barRow->setContentsMargins(30, 0, 30, 0);
    barRow->addWidget(bar);
    layout->addLayout(barRow);
    layout->addSpacing(20);
    qCDebug(lcUi) << text;
}

QString PelmProgressDialog::text() const
{
    return m_label->text();
}

void PelmProgressDialog::setText(const QString& text)
{
    m_label->setText(text);
}

void PelmProgressDialog::keyPressEvent(QKeyEvent* event)
{
    // Escape would reject the dialog behind its owner's back.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
