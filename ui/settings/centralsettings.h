#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;

// The central database on the device page: the server's libpq URI, kept in the settings store and used
// at once, whether the traffic log goes there too, and this computer's station id, which the server's
// rows carry (read-only).
class CentralSettings : public QWidget
{
    Q_OBJECT
public:
    explicit CentralSettings(QWidget* parent = nullptr);

private:
    void apply();
    void applyTraffic(bool on);

    QLineEdit* m_uri;
    QCheckBox* m_traffic;
    QLabel* m_problem;
};
