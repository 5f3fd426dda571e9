#include "glimdeck.h"

#include "net/endpoints.h"
#include "net/servertrust.h"
#include "net/websocketclient.h"

#include <QUrl>

GlimDeck::GlimDeck()
    : QObject(nullptr)
{
    ServerTrust::install();
    m_webSocketClient = new WebSocketClient(QUrl(WS_BASE_URL), this);
}

GlimDeck::~GlimDeck() = default;

void GlimDeck::setIsTTSEnabled(bool newIsTTSEnabled)
{
    m_isTTSEnabled = newIsTTSEnabled;
}
