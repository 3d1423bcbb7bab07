#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class QWidget;

// Hides and shows a group of widgets together, for panels whose parts come and go as one.
class WidgetHider : public QObject
{
    Q_OBJECT
public:
    explicit WidgetHider(QObject* parent = nullptr);
    WidgetHider(const QList<QWidget*>& widgets, QObject* parent = nullptr);

    void addWidget(QWidget* widget);
    QList<QWidget*> widgets() const;

public slots:
    void setHidden(bool hidden);
    // Each widget flips on its own, so a group whose members differ stays mixed.
    void swap();

private:
    // Widgets of a page may be destroyed before the hider.
    QList<QPointer<QWidget>> m_widgets;
};
