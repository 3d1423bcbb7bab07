#pragma once

#include <QString>
#include <QWidget>

class QComboBox;
class QHBoxLayout;
class QLabel;
class QToolButton;

// One column's filter in the log view's filter panel: a label, an option combo, the value editors
// and an X button; filterString() is its SQL condition, empty when it sets none.
class AbstractFilter : public QWidget
{
    Q_OBJECT
public:
    enum Type
    {
        Numeric = 0,
        String = 1,
        Date = 2,
        Time = 3,
        InOut = 4
    };

    static constexpr int OptionWidth = 130;

    AbstractFilter(const QString& column, int index, const QString& label, QWidget* parent = nullptr);

    virtual QString filterString() const = 0;

    QString column() const { return m_column; }
    int index() const { return m_index; }
    QString label() const;
    QComboBox* optionCombo() const { return chooseOptionCombo; }

    bool isActive() const { return active; }
    void setActive(bool on) { active = on; }

    // Single quotes doubled, so that a typed value cannot end the SQL text literal early.
    static QString escaped(const QString& value);

signals:
    void filterChanged();
    void xClicked(int index);

public slots:
    void xButtonClicked();

protected:
    // The editors of the value go here, between the option combo and the X button.
    QHBoxLayout* valueLayout() const { return m_valueLayout; }
    int option() const;
    // The condition of a date or time filter, whose texts order as their values: the options are
    // between, later than, earlier than and equal, in that order.
    QString textRangeFragment(const QString& from, const QString& to) const;

private:
    QString m_column;
    int m_index;
    QLabel* m_label;
    QComboBox* chooseOptionCombo;
    QHBoxLayout* m_valueLayout;
    QToolButton* m_xButton;
    bool active = false;
};
