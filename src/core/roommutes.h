// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/photo.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <optional>

// Rooms muted from the room window: their photos are neither shown nor spoken. A timed mute ends
// by itself at its time; all are kept in the pause's file, so that they outlive a restart.
class RoomMutes : public QObject
{
    Q_OBJECT

public:
    RoomMutes(const QString& filePath, Clock now, QObject* parent = nullptr);

    bool isMuted(const QString& room) const;
    // When the room's mute ends: none when it is not muted, an invalid time when it never ends.
    std::optional<QDateTime> until(const QString& room) const;

    void muteFor(const QString& room, int minutes);
    void muteForever(const QString& room);
    void unmute(const QString& room);

signals:
    void changed();

private:
    // As for the pause: a timer does not count the time the computer sleeps.
    static constexpr int MAX_CHECK_INTERVAL_MS = 60 * 1000;

    void set(const QString& room, const std::optional<QDateTime>& until);
    bool dropEnded();
    void onCheck();
    void arm();
    void save();

    QString m_filePath;
    Clock m_now;
    QHash<QString, QDateTime> m_mutes;
    QTimer m_check;
};
