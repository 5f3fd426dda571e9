// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>

class QLayout;
class QPushButton;
class RoomMutes;
class WebSocketClient;

namespace Ui {
class Settings;
}

// The room list window: add and remove group IDs, mute them for a while; every change is saved
// and sent at once.
class Settings : public QWidget
{
    Q_OBJECT

public:
    // Without mutes, the rows offer none.
    explicit Settings(WebSocketClient* client, RoomMutes* mutes = nullptr, QWidget* parent = nullptr);
    ~Settings() override;

public slots:
    void addRoom();
    void removeRoom(QString room);

private:
    void refreshRooms();
    void saveRooms();
    QPushButton* createMuteButton(const QString& room);
    QString muteText(const QString& room) const;
    void clearLayout(QLayout* layout);

    std::unique_ptr<Ui::Settings> m_ui;
    QStringList m_rooms;
    WebSocketClient* m_webSocketClient;
    QPointer<RoomMutes> m_mutes; // the coordinator's, which may go first at the end
    QFile m_roomsFile;
    // The file failed to load: its bytes are kept aside before the first save replaces them.
    bool m_backupPending = false;
};
