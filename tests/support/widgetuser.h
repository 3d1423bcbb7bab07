#pragma once

#include "ui/confirmationdialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <functional>

// What a test does to widgets as their user.

// Answers the modal windows and popup menus that come up, as a user does, and keeps what they said:
// a question or notice by its button of the given text (EnterKey: the Return key; none: closed
// unanswered), a popup menu by
// its entry of that text (none: escaped), a message box by its first button, and any other modal
// window by `other`, whose text (if any) is kept too. It polls, because each runs its own event
// loop, and stops by itself after `polls` turns.
class ModalAnswerer : public QObject
{
public:
    using Other = std::function<QString(QWidget*)>;
    static constexpr const char* EnterKey = "<Enter>";

    explicit ModalAnswerer(const QString& choice = QString(), Other other = {}, int polls = 500)
        : m_choice(choice), m_other(std::move(other)), m_polls(polls)
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
        m_timer.start(10);
    }

    QStringList texts;

private:
    void poll()
    {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            texts << menu->title();
            const QList<QAction*> actions = menu->actions();
            for (QAction* action : actions) {
                if (action->text() == m_choice) {
                    menu->setActiveAction(action);
                }
            }
            QTest::keyClick(menu, menu->activeAction() ? Qt::Key_Return : Qt::Key_Escape);
        }
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* question = qobject_cast<ConfirmationDialog*>(modal)) {
            texts << question->findChild<QLabel*>(QStringLiteral("mainLabel"))->text();
            QPushButton* chosen = nullptr;
            const QList<QPushButton*> buttons = question->findChildren<QPushButton*>();
            for (QPushButton* button : buttons) {
                chosen = button->isVisible() && button->text() == m_choice ? button : chosen;
            }
            if (m_choice == QLatin1String(EnterKey) && m_entered != question) {
                // A question that Return does not close is closed unanswered at the next turn.
                m_entered = question;
                QWidget* focus = question->focusWidget();
                QTest::keyClick(focus ? focus : question, Qt::Key_Return);
            } else {
                chosen ? chosen->click() : question->done(-1);
            }
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            texts << QStringList{box->windowTitle(), box->text(), box->informativeText()}.join(
                QLatin1Char('|'));
            box->buttons().constFirst()->click();
        } else if (modal && m_other) {
            const QString text = m_other(modal);
            if (!text.isNull()) {
                texts << text;
            }
        }
        if (--m_polls <= 0) {
            m_timer.stop();
        }
    }

    QString m_choice;
    QPointer<QWidget> m_entered;
    Other m_other;
    int m_polls;
    QTimer m_timer;
};

// Chooses path in the file dialog about to run (an empty path, or any other dialog, is closed), and
// tells the folder it opened in and, when asked, the files it offers in the folder of path.
inline void chooseFile(const QString& path, QString* startFolder = nullptr, QStringList* offered = nullptr)
{
    QTimer::singleShot(0, [=] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog || path.isEmpty()) {
            QApplication::activeModalWidget()->close();
            return;
        }
        if (startFolder) {
            *startFolder = dialog->directory().absolutePath();
        }
        if (offered) {
            const QString folder = QFileInfo(path).absolutePath();
            dialog->setDirectory(folder);
            auto* files = dialog->findChild<QFileSystemModel*>();
            const QModelIndex root = files->index(folder);
            // Listed by a thread of the model's own; a missing file shows in the comparison.
            (void)QTest::qWaitFor([&] { return files->rowCount(root) >= 2; });
            for (int row = 0; row < files->rowCount(root); ++row) {
                *offered << files->index(row, 0, root).data().toString();
            }
            offered->sort();
        }
        // Typed, as selectFile() leaves the name line alone while it has the focus.
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
        static_cast<QDialog*>(dialog)->accept();
    });
}

// A press at from, a move by delta and a release, as a user drags with the left button; target is a
// window or a widget. The press takes its geometry as it is; the pointer's screen position follows it.
template <typename Target> void drag(Target* target, const QPoint& from, const QPoint& delta)
{
    const QPoint global = target->mapToGlobal(from);
    QMouseEvent press(QEvent::MouseButtonPress, from, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent move(QEvent::MouseMove, from + delta, global + delta, Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, from + delta, global + delta, Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    for (QMouseEvent* event : {&press, &move, &release}) {
        QCoreApplication::sendEvent(target, event);
    }
}

// The named child of parent, with a warning when there is none.
template <typename T = QWidget> T* child(const QObject* parent, const char* name)
{
    T* found = parent->findChild<T*>(QLatin1String(name));
    if (!found) {
        qWarning() << "no child" << name;
    }
    return found;
}
