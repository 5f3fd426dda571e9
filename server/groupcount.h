// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class RedisLink;

// The clients of every live instance of a group. Each instance writes its own count every few
// seconds under a key that expires soon after, so one that stops or crashes drops out.
class GroupCount : public QObject
{
    Q_OBJECT

public:
    static constexpr int HEARTBEAT_MS = 3000;
    static constexpr int EXPIRY_SECONDS = 10;

    GroupCount(RedisLink& link, const QString& instance, const std::function<int()>& localCount,
               QObject* parent = nullptr);

    // Answers with the group's count, or this instance's own while Redis is away.
    void total(const std::function<void(qint64)>& answer);

private:
    void onHeartbeat();

    RedisLink& m_link;
    QByteArray m_instance;
    std::function<int()> m_localCount;
    QTimer m_heartbeat;
};
