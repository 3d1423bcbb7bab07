#pragma once

#include "ui/capture/keys.h"

#include <QObject>
#include <QString>

#include <memory>

class KeystrokeService;

// Types captured lines into whatever window of another program has the keyboard focus.
class CursorPaste : public QObject
{
    Q_OBJECT
public:
    explicit CursorPaste(QObject* parent = nullptr);
    ~CursorPaste() override;

    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }

    // The service that types; the process-wide one unless another is set. Not owned.
    void setKeystrokeService(KeystrokeService* service) { m_service = service; }

public slots:
    // Takes ownership of keys; a list still pending is dropped.
    void keysArrived(QVector<Keys>* keys);
    // Types line, with the pending keys at their positions, and releases the list. Without force,
    // nothing is typed while disabled or while this program has the keyboard focus.
    void messageArrived(QString line, bool force);
    void messageArrived(QString line);

private:
    void pressKeys(const QVector<Keys>& keys, int& next, qint64 position);

    bool m_enabled = true;
    std::unique_ptr<QVector<Keys>> m_keys;
    KeystrokeService* m_service = nullptr;
};
