// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <functional>

struct redisAsyncContext;
struct redisReply;
class RedisQtAdapter;

// Two connections to one Redis, on Qt's event loop: one for commands, one held in subscriber
// mode. When either is lost both are dropped, and made anew after a back-off with jitter; the
// channels asked for are subscribed again each time.
class RedisLink : public QObject
{
    Q_OBJECT

public:
    static constexpr int FIRST_RETRY_MS = 250;
    static constexpr int LAST_RETRY_MS = 8000;
    // nullptr when Redis is away or went before answering.
    using Reply = std::function<void(const redisReply*)>;

    explicit RedisLink(const QString& address, QObject* parent = nullptr);
    ~RedisLink() override;

    void start();
    bool isUp() const { return m_up; }
    void command(const QList<QByteArray>& arguments, const Reply& reply = {});
    void subscribe(const QByteArray& channel);
    void unsubscribe(const QByteArray& channel);

signals:
    // Both connections ready, the channels subscribed again.
    void up();
    void down();
    void message(const QByteArray& channel, const QByteArray& payload);

private:
    struct Connection
    {
        redisAsyncContext* context = nullptr;
        RedisQtAdapter* adapter = nullptr;
        bool ready = false;
    };
    struct Pending
    {
        RedisLink* link;
        Reply reply;
    };
    void connectTo(const QString& host);
    bool open(Connection& connection, const QString& host);
    void onConnected(const redisAsyncContext* context, int status);
    void onDisconnected(const redisAsyncContext* context);
    void onPush(const redisReply* reply);
    void lose(const QString& why);
    void close(Connection& connection);
    bool send(redisAsyncContext* context, const QList<QByteArray>& arguments,
              void (*callback)(redisAsyncContext*, void*, void*), void* data);
    Connection* connectionOf(const redisAsyncContext* context);
    static void onConnectedCallback(const redisAsyncContext* context, int status);
    static void onDisconnectedCallback(const redisAsyncContext* context, int status);
    static void onReplyCallback(redisAsyncContext* context, void* reply, void* data);
    static void onPushCallback(redisAsyncContext* context, void* reply, void* data);

    QString m_address;
    QString m_unixPath;
    int m_port = 0;
    Connection m_commands;
    Connection m_subscriber;
    QSet<QByteArray> m_channels;
    QTimer m_retry;
    int m_retryMs = FIRST_RETRY_MS;
    int m_pending = 0;
    int m_tries = 0;
    bool m_up = false;
    bool m_closing = false;
};
