// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>

#include <optional>

class ClientCounter;
class Pause;
class QAction;
class QMenu;
class RecentPhotos;
class ScreenChoice;

// The notification-area icon and its menu: shows whether the server connection is up, opens the
// upload page, switches launching at log-on and speech, shows the connected-clients count, quits.
class TrayManager : public QObject
{
    Q_OBJECT

public:
    TrayManager(bool ttsEnabled, QObject* parent);
    // Test seam: asks usersUrl for the connected-clients count. The program always uses the
    // constructor above, which asks USERS_URL.
    TrayManager(bool ttsEnabled, const QString& usersUrl, QObject* parent);
    ~TrayManager() override;

    void show();
    void hide();
    // Adds "Photos récentes" and "Pause" before "Quitter"; the icon and its tooltip then show
    // the pause and the photos not yet seen.
    void addPhotoMenus(RecentPhotos* recent, Pause* pause);
    // Adds "Écran" just before "Photos récentes" (or "Quitter" without them).
    void addScreenMenu(ScreenChoice* choice);

signals:
    void ttsStatusChanged(bool value);
    void displayWindow();
    void recentPhotoChosen(int recentId);

private slots:
    void onActivated(QSystemTrayIcon::ActivationReason reason);
    void onShowHide();
    void onSendImages();
    void onToggleAutostart(bool checked);
    void onToggleTTS(bool checked);

public slots:
    void setConnected(bool connected);

private:
    // The entries that no field holds; they are needed only until they are wired.
    struct PlainEntries
    {
        QAction* sendImages;
        QAction* quit;
    };
    void createIcon();
    PlainEntries createEntries();
    void fillMenu(const PlainEntries& plain);
    void connectEntries(const PlainEntries& plain);

    QMenu* createPauseMenu();
    void onRecentChanged();
    void onRecentMenuShown();
    void onPauseChanged();
    void updateStatus();
    QIcon statusIcon(bool paused, bool unseen) const;

    bool isAutostartEnabled() const;
    bool enableAutostart();
    bool disableAutostart();

    QSystemTrayIcon* m_trayIcon;
    QMenu* m_trayMenu;
    QAction* m_autostartAction;
    QAction* m_clientCountAction;
    QAction* m_ttsAction;
    ClientCounter* m_clientCounter;
    QString m_usersUrl;
    RecentPhotos* m_recent = nullptr;
    Pause* m_pause = nullptr;
    QMenu* m_recentMenu = nullptr;
    QAction* m_resumeAction = nullptr;
    QIcon m_baseIcon;                // the connection's picture, before the marks
    std::optional<bool> m_connected; // none until the connection's first report
    bool m_recentMenuOpen = false;
    // Set while a failed switch puts the check mark back, so that a second failure stops there.
    bool m_revertingAutostart = false;
};
