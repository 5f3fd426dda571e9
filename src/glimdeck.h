#pragma once

#include <QObject>

class WebSocketClient;

// Owns the long-lived components and wires them together; has no window of its own.
class GlimDeck : public QObject
{
    Q_OBJECT

public:
    GlimDeck();
    ~GlimDeck() override;

private slots:
    void setIsTTSEnabled(bool newIsTTSEnabled);

private:
    WebSocketClient* m_webSocketClient = nullptr;
    bool m_isTTSEnabled = false;
};
