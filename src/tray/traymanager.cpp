// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/traymanager.h"

#include "core/pause.h"
#include "core/recentphotos.h"
#include "core/screenchoice.h"
#include "net/endpoints.h"
#include "tray/autostartentry.h"
#include "tray/clientcounter.h"

#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QFile>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QSignalBlocker>
#include <QUrl>

namespace {

const QString CONNECTED_ICON = QStringLiteral(":/icons/data/icons/icon.png");
const QString DISCONNECTED_ICON = QStringLiteral(":/icons/data/icons/icon-red.png");
const QString FALLBACK_THEME_ICON = QStringLiteral("network-transmit-receive");
// Longer messages are cut in the recent photos' menu, which stays narrow.
constexpr int MAX_MENU_MESSAGE_CHARS = 40;
// The icon's sizes: the tray's 22 pixels, and twice that for screens scaled by 2.
constexpr int ICON_SIZES[] = {22, 44};

QString recentLabel(const RecentPhotos::Entry& entry)
{
    QString message = entry.photo.message.simplified();
    if (message.size() > MAX_MENU_MESSAGE_CHARS)
        message = message.left(MAX_MENU_MESSAGE_CHARS) + QStringLiteral("…");
    QStringList parts{entry.photo.arrived.toLocalTime().toString(QStringLiteral("HH:mm"))};
    if (!entry.photo.room.isEmpty())
        parts << entry.photo.room;
    parts << message;
    QString label = parts.join(QStringLiteral(" — "));
    if (!entry.seen)
        label.prepend(QStringLiteral("• "));
    if (entry.expired)
        label += TrayManager::tr(" (expirée)");
    // A lone ampersand would mark a shortcut letter.
    return label.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// Paused: two bars at the bottom left. Photos not yet seen: a dot at the top right.
QPixmap markedPixmap(const QIcon& base, int size, bool paused, bool unseen)
{
    QPixmap pixmap = base.pixmap(QSize(size, size), 1.0);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal unit = size / 22.0;
    if (paused) {
        painter.fillRect(QRectF(0, 11 * unit, 11 * unit, 11 * unit), QColor(0x21, 0x21, 0x21));
        painter.fillRect(QRectF(2.5 * unit, 13 * unit, 2 * unit, 7 * unit), Qt::white);
        painter.fillRect(QRectF(6.5 * unit, 13 * unit, 2 * unit, 7 * unit), Qt::white);
    }
    if (unseen) {
        painter.setPen(QPen(Qt::white, unit));
        painter.setBrush(QColor(0xff, 0x98, 0x00));
        painter.drawEllipse(QRectF(13 * unit, 0.5 * unit, 8.5 * unit, 8.5 * unit));
    }
    return pixmap;
}

} // namespace

// The icons live in the static core library, whose resource initialiser no linker keeps unless
// something refers to it. Q_INIT_RESOURCE must stand outside any namespace.
static void initIconResources()
{
    Q_INIT_RESOURCE(icons);
}

TrayManager::TrayManager(bool ttsEnabled, QObject* parent)
    : TrayManager(ttsEnabled, USERS_URL, parent)
{
}

TrayManager::TrayManager(bool ttsEnabled, const QString& usersUrl, QObject* parent)
    : QObject(parent)
    , m_trayIcon(nullptr)
    , m_trayMenu(nullptr)
    , m_autostartAction(nullptr)
    , m_clientCountAction(nullptr)
    , m_ttsAction(nullptr)
    , m_clientCounter(nullptr)
    , m_usersUrl(usersUrl)
{
    initIconResources();

    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        qWarning() << "System tray not available on this platform.";
        return;
    }

    createIcon();
    m_trayMenu = new QMenu();
    const PlainEntries plain = createEntries();
    fillMenu(plain);
    connectEntries(plain);

    // After the connections on purpose: a mark that changes runs its handler, so an existing
    // log-on entry is pointed at this executable again.
    m_autostartAction->setChecked(isAutostartEnabled());
    m_ttsAction->setChecked(ttsEnabled);

    m_trayIcon->show();
}

void TrayManager::createIcon()
{
    const QIcon icon(CONNECTED_ICON);
    if (icon.isNull())
        qWarning() << "Icon not found, tray icon may not appear.";
    m_trayIcon = new QSystemTrayIcon(icon, this);
    m_baseIcon = icon;
}

TrayManager::PlainEntries TrayManager::createEntries()
{
    auto* sendImagesAction = new QAction(tr("Envoyer des images"), this);
    m_autostartAction = new QAction(tr("Lancer au démarrage"), this);
    m_autostartAction->setCheckable(true);
    m_ttsAction = new QAction(tr("TextToSpeech"), this);
    m_ttsAction->setCheckable(true);
    m_clientCountAction = new QAction(tr("Clients connectés : —"), this);
    m_clientCountAction->setEnabled(false);
    m_clientCounter = new ClientCounter(m_clientCountAction, m_usersUrl, this);
    auto* quitAction = new QAction(tr("Quitter"), this);
    return {sendImagesAction, quitAction};
}

void TrayManager::fillMenu(const PlainEntries& plain)
{
    m_trayMenu->addAction(plain.sendImages);
    m_trayMenu->addAction(m_autostartAction);
    m_trayMenu->addAction(m_ttsAction);
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(m_clientCountAction);
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(plain.quit);
    m_trayIcon->setContextMenu(m_trayMenu);
}

void TrayManager::connectEntries(const PlainEntries& plain)
{
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &TrayManager::onActivated);
    connect(m_autostartAction, &QAction::toggled, this, &TrayManager::onToggleAutostart);
    connect(m_ttsAction, &QAction::toggled, this, &TrayManager::onToggleTTS);
    connect(plain.sendImages, &QAction::triggered, this, &TrayManager::onSendImages);
    connect(plain.quit, &QAction::triggered, QCoreApplication::instance(), &QCoreApplication::quit);
    connect(m_trayMenu, &QMenu::aboutToShow, m_clientCounter, &ClientCounter::refreshClientCount);
}

TrayManager::~TrayManager()
{
    if (m_trayIcon) {
        m_trayIcon->hide();
        delete m_trayIcon;
        m_trayIcon = nullptr;
    }
    // The menu has no parent widget, so nothing else would release it.
    delete m_trayMenu;
    m_trayMenu = nullptr;
}

void TrayManager::show()
{
    if (m_trayIcon)
        m_trayIcon->show();
}

void TrayManager::hide()
{
    if (m_trayIcon)
        m_trayIcon->hide();
}

void TrayManager::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::Trigger:
        onShowHide();
        break;
    case QSystemTrayIcon::Context:
    case QSystemTrayIcon::MiddleClick:
    case QSystemTrayIcon::Unknown:
        break;
    }
}

void TrayManager::onShowHide()
{
    emit displayWindow();
}

void TrayManager::onSendImages()
{
    const QUrl url(HTTPS_BASE_URL, QUrl::TolerantMode);
    if (!QDesktopServices::openUrl(url))
        qWarning() << "TrayManager: failed to open URL" << url.toString();
}

void TrayManager::onToggleAutostart(bool checked)
{
    if (checked ? enableAutostart() : disableAutostart())
        return;
    qWarning() << (checked ? "Failed to enable autostart" : "Failed to disable autostart");
    // Putting the mark back runs the opposite switch once; if that fails as well, stop there.
    if (m_revertingAutostart)
        return;
    m_revertingAutostart = true;
    m_autostartAction->setChecked(!checked);
    m_revertingAutostart = false;
    // After two failures the mark shows what is really in place.
    const QSignalBlocker blocker(m_autostartAction);
    m_autostartAction->setChecked(isAutostartEnabled());
}

void TrayManager::onToggleTTS(bool checked)
{
    emit ttsStatusChanged(checked);
    if (m_ttsAction)
        m_ttsAction->setChecked(checked);
    qDebug() << "TTS Enabled:" << checked;
}

void TrayManager::setConnected(bool connected)
{
    if (!m_trayIcon)
        return;
    m_connected = connected;
    const QString path = connected ? CONNECTED_ICON : DISCONNECTED_ICON;
    const QIcon icon = QFile::exists(path) ? QIcon(path) : QIcon::fromTheme(FALLBACK_THEME_ICON);
    if (icon.isNull())
        qWarning() << "TrayManager::setConnected : aucune icône trouvée pour état" << connected;
    else
        m_baseIcon = icon;
    updateStatus();
}

void TrayManager::addPhotoMenus(RecentPhotos* recent, Pause* pause)
{
    if (!m_trayMenu)
        return;
    m_recent = recent;
    m_pause = pause;
    QAction* quit = m_trayMenu->actions().constLast();
    m_recentMenu = new QMenu(tr("Photos récentes"), m_trayMenu);
    m_trayMenu->insertMenu(quit, m_recentMenu);
    m_trayMenu->insertMenu(quit, createPauseMenu());
    connect(m_recent, &RecentPhotos::changed, this, &TrayManager::onRecentChanged);
    connect(m_pause, &Pause::changed, this, &TrayManager::onPauseChanged);
    connect(m_recentMenu, &QMenu::aboutToShow, this, &TrayManager::onRecentMenuShown);
    // Later: a chosen entry is triggered after its menu has begun to hide.
    connect(m_recentMenu, &QMenu::aboutToHide, this, [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_recentMenuOpen = false;
                onRecentChanged();
            },
            Qt::QueuedConnection);
    });
    onRecentChanged();
    onPauseChanged();
}

void TrayManager::addScreenMenu(ScreenChoice* choice)
{
    if (!m_trayMenu)
        return;
    auto* menu = new QMenu(tr("Écran"), m_trayMenu);
    auto* group = new QActionGroup(menu);
    const auto add = [&](const QString& text, ScreenChoice::Mode mode) {
        QAction* action = menu->addAction(text);
        action->setCheckable(true);
        action->setChecked(choice->mode() == mode);
        group->addAction(action);
        connect(action, &QAction::triggered, choice, [choice, mode] { choice->setMode(mode); });
    };
    add(tr("Écran principal"), ScreenChoice::Mode::Primary);
    add(tr("Écran de la souris"), ScreenChoice::Mode::Mouse);
    add(tr("Tous les écrans"), ScreenChoice::Mode::All);
    m_trayMenu->insertMenu(m_recentMenu ? m_recentMenu->menuAction() : m_trayMenu->actions().constLast(), menu);
}

QMenu* TrayManager::createPauseMenu()
{
    auto* menu = new QMenu(tr("Pause"), m_trayMenu);
    const auto add = [this, menu](const QString& text, auto choose) {
        QAction* action = menu->addAction(text);
        connect(action, &QAction::triggered, this, choose);
        return action;
    };
    add(tr("30 minutes"), [this] { m_pause->pauseFor(30); });
    add(tr("1 heure"), [this] { m_pause->pauseFor(60); });
    add(tr("Jusqu'à demain 8 h"), [this] { m_pause->pauseUntilTomorrowMorning(); });
    m_resumeAction = add(tr("Reprendre"), [this] { m_pause->resume(); });
    return menu;
}

// While the list is open its marks stay as they were when it opened.
void TrayManager::onRecentChanged()
{
    updateStatus();
    if (m_recentMenuOpen)
        return;
    m_recentMenu->clear();
    for (const RecentPhotos::Entry& entry : m_recent->entries()) {
        QAction* action = m_recentMenu->addAction(recentLabel(entry));
        connect(action, &QAction::triggered, this, [this, id = entry.photo.recentId] { emit recentPhotoChosen(id); });
    }
    m_recentMenu->menuAction()->setEnabled(!m_recent->entries().isEmpty());
}

void TrayManager::onRecentMenuShown()
{
    m_recentMenuOpen = true;
    m_recent->markAllSeen();
}

void TrayManager::onPauseChanged()
{
    m_resumeAction->setVisible(m_pause->isActive());
    updateStatus();
}

void TrayManager::updateStatus()
{
    if (!m_trayIcon)
        return;
    const bool paused = m_pause && m_pause->isActive();
    const int unseen = m_recent ? m_recent->unseenCount() : 0;
    m_trayIcon->setIcon(statusIcon(paused, unseen > 0));
    if (!m_connected && !paused && unseen == 0) {
        m_trayIcon->setToolTip(QString());
        return;
    }
    QString tip = m_connected.value_or(false) ? tr("GlimDeck — connecté") : tr("GlimDeck — déconnecté");
    if (paused)
        tip += tr(", en pause jusqu'à %1").arg(m_pause->until().toLocalTime().toString(QStringLiteral("HH:mm")));
    if (unseen > 0)
        tip += QLatin1Char('\n') + tr("%1 photos non vues").arg(unseen);
    m_trayIcon->setToolTip(tip);
}

QIcon TrayManager::statusIcon(bool paused, bool unseen) const
{
    if (!paused && !unseen)
        return m_baseIcon;
    QIcon marked;
    for (const int size : ICON_SIZES)
        marked.addPixmap(markedPixmap(m_baseIcon, size, paused, unseen));
    return marked;
}

bool TrayManager::isAutostartEnabled() const
{
    return AutostartEntry(QCoreApplication::applicationFilePath()).exists();
}

bool TrayManager::enableAutostart()
{
    return AutostartEntry(QCoreApplication::applicationFilePath()).write();
}

bool TrayManager::disableAutostart()
{
    return AutostartEntry(QCoreApplication::applicationFilePath()).remove();
}
