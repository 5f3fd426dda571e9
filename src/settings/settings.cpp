// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settings.h"

#include "core/roommutes.h"
#include "net/websocketclient.h"
#include "protocol/roomname.h"
#include "settings/roomlistfile.h"
#include "ui_settings.h"

#include <QHBoxLayout>
#include <QJsonArray>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

Settings::Settings(WebSocketClient* client, RoomMutes* mutes, QWidget* parent)
    : QWidget(parent)
    , m_ui(new Ui::Settings)
    , m_webSocketClient(client)
    , m_mutes(mutes)
    , m_roomsFile(RoomListFile::path())
{
    m_ui->setupUi(this);
    m_ui->textInput->setMaxLength(RoomName::MAX_LENGTH);
    connect(m_ui->validateButton, &QPushButton::clicked, this, &Settings::addRoom);
    connect(m_ui->textInput, &QLineEdit::returnPressed, this, &Settings::addRoom);
    if (m_mutes)
        connect(m_mutes, &RoomMutes::changed, this, &Settings::refreshRooms);
    // A user opening the window means to type a group ID.
    m_ui->textInput->setFocus();

    const RoomListFile::Load loaded = RoomListFile::load(m_roomsFile);
    m_backupPending = loaded.outcome == RoomListFile::Outcome::Damaged;
    if (loaded.outcome != RoomListFile::Outcome::Loaded)
        return;
    for (const QJsonValue& room : loaded.rooms) {
        if (room.isString())
            m_rooms.append(room.toString());
    }
    refreshRooms();
}

// Here, where the form's type is complete.
Settings::~Settings() = default;

void Settings::addRoom()
{
    const QString room = m_ui->textInput->text();
    m_ui->textInput->clear();
    if (room.isEmpty() || m_rooms.contains(room))
        return;
    m_rooms.append(room);
    refreshRooms();
    saveRooms();
}

void Settings::removeRoom(QString room)
{
    m_rooms.removeAll(room);
    if (m_mutes)
        m_mutes->unmute(room);
    refreshRooms();
    saveRooms();
}

void Settings::refreshRooms()
{
    clearLayout(m_ui->verticalLayout);
    for (const QString& room : std::as_const(m_rooms)) {
        auto* row = new QHBoxLayout;
        auto* label = new QLabel(room);
        label->setStyleSheet(QStringLiteral("padding: 5px; border-bottom: 2px solid #4D4D4D;"));
        auto* removeButton = new QPushButton(QStringLiteral("Supprimer"));
        row->addWidget(label, 0);
        row->addWidget(new QLabel(muteText(room)), 0);
        if (m_mutes)
            row->addWidget(createMuteButton(room), 0);
        row->addWidget(removeButton, 0);
        connect(removeButton, &QPushButton::clicked, this, [this, room] { removeRoom(room); });
        m_ui->verticalLayout->addLayout(row, 0);
    }
    m_ui->verticalLayout->addStretch(1);
}

// Muted: a click gives the sound back. Not muted: a menu of how long.
QPushButton* Settings::createMuteButton(const QString& room)
{
    if (m_mutes->isMuted(room)) {
        auto* unmute = new QPushButton(QStringLiteral("Réactiver le son"));
        connect(unmute, &QPushButton::clicked, this, [this, room] { m_mutes->unmute(room); });
        return unmute;
    }
    auto* mute = new QPushButton(QStringLiteral("Rendre muet"));
    auto* menu = new QMenu(mute);
    connect(menu->addAction(QStringLiteral("1 heure")), &QAction::triggered, this,
            [this, room] { m_mutes->muteFor(room, 60); });
    connect(menu->addAction(QStringLiteral("8 heures")), &QAction::triggered, this,
            [this, room] { m_mutes->muteFor(room, 8 * 60); });
    connect(menu->addAction(QStringLiteral("Toujours")), &QAction::triggered, this,
            [this, room] { m_mutes->muteForever(room); });
    mute->setMenu(menu);
    return mute;
}

QString Settings::muteText(const QString& room) const
{
    if (!m_mutes || !m_mutes->isMuted(room))
        return QString();
    const QDateTime until = *m_mutes->until(room);
    if (!until.isValid())
        return QStringLiteral("muet");
    return QStringLiteral("muet jusqu'à %1").arg(until.toLocalTime().toString(QStringLiteral("HH:mm")));
}

void Settings::saveRooms()
{
    const QJsonArray rooms = QJsonArray::fromStringList(m_rooms);
    m_webSocketClient->sendRooms(rooms);
    if (m_backupPending) {
        RoomListFile::keepBackup(m_roomsFile);
        m_backupPending = false;
    }
    RoomListFile::save(m_roomsFile, rooms);
}

void Settings::clearLayout(QLayout* layout)
{
    if (!layout)
        return;
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget())
            widget->deleteLater();
        else if (QLayout* nested = item->layout())
            clearLayout(nested);
        delete item;
    }
}
