#pragma once

#include <QStandardItem>
#include <QVariant>

// One cell of the property table: a named value of some kind. The cell shows the value as text, or
// "Not specified" when there is none; only a cell with a value can be edited.
class PelmAbstractItem : public QStandardItem
{
public:
    enum Kind
    {
        Title,
        Line,
        Numeric,
        Nominal,
        Date,
        Time,
        DayTime,
        IPLine,
        File,
        Dialog
    };

    // The raw value; the display role carries its text instead.
    static constexpr int ValueRole = Qt::UserRole + 1;

    explicit PelmAbstractItem(const QString& name, bool editable = true);

    virtual Kind kind() const = 0;

    QString name() const { return m_name; }
    void setName(const QString& name) { m_name = name; }

    QVariant value() const;
    void setValue(const QVariant& value);
    // An invalid QVariant means no value; an empty text is a value.
    bool hasValue() const { return value().isValid(); }

    // Whether the user may edit the value once there is one. Hides QStandardItem's setter, which would
    // let a cell without value become editable.
    void setEditable(bool editable);
    bool isEditableWhenSpecified() const { return m_editable; }

    // Callers that keep several kinds of cell in one table tell them apart by type.
    int type() const override { return m_type; }
    void setType(int type) { m_type = type; }

    QVariant data(int role = Qt::UserRole + 1) const override;
    void setData(const QVariant& value, int role = Qt::UserRole + 1) override;

    // True once after each change of the value; flag and colour changes also reach the model's
    // itemChanged, and the view reports only real value changes.
    bool takeValueChange();

protected:
    // The text shown for a value.
    virtual QString textFor(const QVariant& value) const { return value.toString(); }
    // Brings a value to the item's own type; an invalid result means the value is not specified.
    virtual QVariant normalised(const QVariant& value) const { return value; }
    // Sets the first value from a subclass constructor, where the virtual normalised() already works.
    void initValue(const QVariant& value);

private:
    void updateFlags();

    QString m_name;
    bool m_editable;
    int m_type;
    QVariant m_reportedValue;
};
