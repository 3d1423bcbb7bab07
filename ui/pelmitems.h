#pragma once

#include "ui/pelmabstractitem.h"

#include <QStringList>

#include <functional>

class PelmAbstractDialog;
class QWidget;

// The kinds of property-table cell. Each keeps its value in its own type and formats it for display;
// CPelmPropertiesDelegate gives each kind its editor.

// A section heading: spans the table and holds no value.
class PelmTitleItem : public PelmAbstractItem
{
public:
    explicit PelmTitleItem(const QString& name);
    Kind kind() const override { return Title; }
    QVariant data(int role = Qt::UserRole + 1) const override;
};

class PelmLineItem : public PelmAbstractItem
{
public:
    explicit PelmLineItem(const QString& name, const QVariant& value = QVariant(), bool editable = true);
    Kind kind() const override { return Line; }

protected:
    QVariant normalised(const QVariant& value) const override;
};

// A number shown with a fixed count of decimals; with no decimals the value is an int.
class PelmNumericItem : public PelmAbstractItem
{
public:
    explicit PelmNumericItem(const QString& name, const QVariant& value = QVariant(), int decimals = 0,
                             bool editable = true);
    Kind kind() const override { return Numeric; }

    int decimals() const { return m_decimals; }
    double minimum() const { return m_minimum; }
    double maximum() const { return m_maximum; }
    void setRange(double minimum, double maximum);

protected:
    QString textFor(const QVariant& value) const override;
    QVariant normalised(const QVariant& value) const override;

private:
    int m_decimals;
    double m_minimum = -1e9;
    double m_maximum = 1e9;
};

// One choice out of a list. The value is the chosen text, so that callers compare texts, not positions.
class PelmNominalItem : public PelmAbstractItem
{
public:
    PelmNominalItem(const QString& name, const QStringList& choices, int index, bool editable = true);
    Kind kind() const override { return Nominal; }

    QStringList choices() const { return m_choices; }
    // -1 without a value.
    int currentIndex() const;

protected:
    // Takes a choice's text, or an int as the index of a choice; anything else is no value.
    QVariant normalised(const QVariant& value) const override;

private:
    QStringList m_choices;
};

class PelmDateItem : public PelmAbstractItem
{
public:
    static const QString Format;

    explicit PelmDateItem(const QString& name, const QVariant& value = QVariant(), bool editable = true);
    Kind kind() const override { return Date; }

protected:
    QString textFor(const QVariant& value) const override;
    QVariant normalised(const QVariant& value) const override;
};

class PelmTimeItem : public PelmAbstractItem
{
public:
    static const QString Format;

    explicit PelmTimeItem(const QString& name, const QVariant& value = QVariant(), bool editable = true);
    Kind kind() const override { return Time; }

protected:
    QString textFor(const QVariant& value) const override;
    QVariant normalised(const QVariant& value) const override;
};

// A duration below one day, held as a QTime.
class PelmDayTimeItem : public PelmTimeItem
{
public:
    static const QString Format;

    explicit PelmDayTimeItem(const QString& name, const QVariant& value = QVariant(), bool editable = true);
    Kind kind() const override { return DayTime; }

protected:
    QString textFor(const QVariant& value) const override;
};

// An IPv4 address in dotted form. Values set by the program are kept as given (a cell may show a range
// of addresses); what the user types is checked with isValidAddress() before it is taken.
class PelmIPLineItem : public PelmAbstractItem
{
public:
    static bool isValidAddress(const QString& text);

    explicit PelmIPLineItem(const QString& name, const QVariant& value = QVariant(), bool editable = true);
    Kind kind() const override { return IPLine; }

protected:
    QVariant normalised(const QVariant& value) const override;
};

class PelmFileItem : public PelmAbstractItem
{
public:
    explicit PelmFileItem(const QString& name, const QVariant& value = QVariant(), bool editable = true);
    Kind kind() const override { return File; }

protected:
    QVariant normalised(const QVariant& value) const override;
};

// A value edited in a dialog of its own, which the factory makes each time the cell is edited.
class PelmDialogItem : public PelmAbstractItem
{
public:
    using DialogFactory = std::function<PelmAbstractDialog*(QWidget* parent)>;

    PelmDialogItem(const QString& name, const QVariant& value, DialogFactory factory, bool editable = true);
    Kind kind() const override { return Dialog; }

    PelmAbstractDialog* createDialog(QWidget* parent) const;

private:
    DialogFactory m_factory;
};
