#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;

// The central database on the device page: the server's libpq URI, kept in the settings store and used
// at once, and this computer's station id, which the server's rows carry (read-only).
class CentralSettings : public QWidget
{
    Q_OBJECT
public:
    explicit CentralSettings(QWidget* parent = nullptr);

private:
    void apply();

    QLineEdit* m_uri;
    QLabel* m_problem;
};
