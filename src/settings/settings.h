// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>

class QLayout;
class WebSocketClient;

namespace Ui {
class Settings;
}

// The room list window: add and remove group IDs; every change is saved and sent at once.
class Settings : public QWidget
{
    Q_OBJECT

public:
    explicit Settings(WebSocketClient* client, QWidget* parent = nullptr);
    ~Settings() override;

public slots:
    void addRoom();
    void removeRoom(QString room);

private:
    void refreshRooms();
    void saveRooms();
    void clearLayout(QLayout* layout);

    std::unique_ptr<Ui::Settings> m_ui;
    QStringList m_rooms;
    WebSocketClient* m_webSocketClient;
    QFile m_roomsFile;
    // The file failed to load: its bytes are kept aside before the first save replaces them.
    bool m_backupPending = false;
};
