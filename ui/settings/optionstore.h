#pragma once

#include <QObject>

// Keeps the transfer options between runs, in the group "Transfer" of the settings store: the
// fields, delimiters, auto send, "Text field", the chosen file and the export choices. What was
// stored replaces the start values at construction (so it is made after the pages and start-up have
// set theirs), and every later change is stored at once, until it is destroyed.
class OptionStore : public QObject
{
    Q_OBJECT
public:
    explicit OptionStore(QObject* parent = nullptr);

private:
    void restore();
    void storeChanges();
};
