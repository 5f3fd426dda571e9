// SPDX-License-Identifier: GPL-3.0-or-later
#include "redislink.h"
#include "serverlimits.h"

#include <QDebug>
#include <QHostAddress>
#include <QHostInfo>
#include <QRandomGenerator>

#include <hiredis/adapters/qt.h>
#include <hiredis/async.h>
#include <hiredis/hiredis.h>

#include <QFile>

#include <memory>
#include <vector>

RedisLink::RedisLink(const QString& address, QObject* parent)
    : QObject(parent)
    , m_address(address)
{
    if (address.contains(QLatin1Char('/'))) {
        m_unixPath = address;
    } else {
        bool ok = false;
        m_port = address.section(QLatin1Char(':'), -1).toInt(&ok);
        if (!ok || m_port < 1 || m_port > 65535 || !address.contains(QLatin1Char(':')))
            m_port = 0;
    }
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &RedisLink::start);
}

RedisLink::~RedisLink()
{
    m_closing = true;
    close(m_commands);
    close(m_subscriber);
}

void RedisLink::start()
{
    if (m_unixPath.isEmpty() && m_port == 0) {
        qWarning().noquote() << "Adresse Redis illisible :" << m_address << "(chemin de socket ou hôte:port)";
        return;
    }
    ++m_tries;
    if (!m_unixPath.isEmpty()) {
        connectTo(QString());
        return;
    }
    // hiredis would resolve a name while the event loop waits: Qt resolves it first, aside.
    const QString host = m_address.section(QLatin1Char(':'), 0, -2).remove(QLatin1Char('[')).remove(QLatin1Char(']'));
    if (!QHostAddress(host).isNull()) {
        connectTo(host);
        return;
    }
    QHostInfo::lookupHost(host, this, [this](const QHostInfo& info) {
        if (info.addresses().isEmpty())
            lose(QStringLiteral("nom inconnu"));
        else
            connectTo(info.addresses().first().toString());
    });
}

void RedisLink::connectTo(const QString& host)
{
    if (!open(m_commands, host) || !open(m_subscriber, host))
        lose(QStringLiteral("connexion impossible"));
}

bool RedisLink::open(Connection& connection, const QString& host)
{
    connection.context = m_unixPath.isEmpty() ? redisAsyncConnect(host.toLatin1().constData(), m_port)
                                              : redisAsyncConnectUnix(QFile::encodeName(m_unixPath).constData());
    if (!connection.context)
        return false;
    if (connection.context->err) {
        redisAsyncFree(connection.context);
        connection.context = nullptr;
        return false;
    }
    connection.context->data = this;
    connection.adapter = new RedisQtAdapter(this);
    connection.adapter->setContext(connection.context);
    redisAsyncSetConnectCallback(connection.context, &RedisLink::onConnectedCallback);
    redisAsyncSetDisconnectCallback(connection.context, &RedisLink::onDisconnectedCallback);
    return true;
}

RedisLink::Connection* RedisLink::connectionOf(const redisAsyncContext* context)
{
    if (context && context == m_commands.context)
        return &m_commands;
    if (context && context == m_subscriber.context)
        return &m_subscriber;
    return nullptr;
}

void RedisLink::onConnected(const redisAsyncContext* context, int status)
{
    Connection* connection = connectionOf(context);
    if (!connection)
        return;
    if (status != REDIS_OK) {
        // hiredis frees the context once this returns.
        connection->context = nullptr;
        lose(QString::fromLatin1(context->errstr));
        return;
    }
    connection->ready = true;
    if (!m_commands.ready || !m_subscriber.ready)
        return;
    m_up = true;
    m_retry.stop();
    m_retryMs = FIRST_RETRY_MS;
    if (!m_channels.isEmpty()) {
        QList<QByteArray> arguments{"SUBSCRIBE"};
        arguments += m_channels.values();
        send(m_subscriber.context, arguments, &RedisLink::onPushCallback, this);
    }
    qInfo().noquote() << "Redis joint sur" << m_address << "après" << m_tries << "essai(s) :" << m_channels.size()
                      << "groupes suivis, compte réécrit";
    m_tries = 0;
    emit up();
}

void RedisLink::onDisconnected(const redisAsyncContext* context)
{
    Connection* connection = connectionOf(context);
    if (!connection)
        return;
    // Freed by hiredis after this returns.
    connection->context = nullptr;
    lose(QString::fromLatin1(context->errstr));
}

void RedisLink::close(Connection& connection)
{
    redisAsyncContext* context = std::exchange(connection.context, nullptr);
    connection.ready = false;
    if (context)
        redisAsyncFree(context);
    // The adapter outlives its context: hiredis cleans up through it, possibly after this call.
    if (connection.adapter)
        std::exchange(connection.adapter, nullptr)->deleteLater();
}

void RedisLink::lose(const QString& why)
{
    // Down first: replies lost with the connections are answered, and may ask again.
    const bool wasUp = std::exchange(m_up, false);
    close(m_commands);
    close(m_subscriber);
    if (m_closing)
        return;
    if (wasUp) {
        qWarning().noquote() << "Redis perdu sur" << m_address << ":" << why
                             << "; chaque instance ne sert plus que ses clients, nouvel essai bientôt";
        emit down();
    } else {
        qDebug().noquote() << "Redis toujours absent :" << why;
    }
    if (m_retry.isActive())
        return;
    // Half the delay fixed, half at random, so instances that lost Redis together come back apart.
    const int delay = m_retryMs / 2 + int(QRandomGenerator::global()->bounded(m_retryMs / 2 + 1));
    m_retryMs = qMin(LAST_RETRY_MS, m_retryMs * 2);
    m_retry.start(delay);
}

bool RedisLink::send(redisAsyncContext* context, const QList<QByteArray>& arguments,
                     void (*callback)(redisAsyncContext*, void*, void*), void* data)
{
    std::vector<const char*> argv;
    std::vector<size_t> lengths;
    for (const QByteArray& argument : arguments) {
        argv.push_back(argument.constData());
        lengths.push_back(size_t(argument.size()));
    }
    // Refused while the context is being freed; hiredis then never calls back.
    return redisAsyncCommandArgv(context, callback, data, int(argv.size()), argv.data(), lengths.data()) == REDIS_OK;
}

void RedisLink::command(const QList<QByteArray>& arguments, const Reply& reply)
{
    if (!m_up || m_pending >= ServerLimits::MAX_REDIS_PENDING) {
        if (reply)
            reply(nullptr);
        return;
    }
    auto* pending = new Pending{this, reply};
    if (!send(m_commands.context, arguments, &RedisLink::onReplyCallback, pending)) {
        delete pending;
        if (reply)
            reply(nullptr);
        return;
    }
    ++m_pending;
}

void RedisLink::subscribe(const QByteArray& channel)
{
    if (!m_channels.contains(channel) && (m_channels.insert(channel), m_up))
        send(m_subscriber.context, {"SUBSCRIBE", channel}, &RedisLink::onPushCallback, this);
}

void RedisLink::unsubscribe(const QByteArray& channel)
{
    if (m_channels.remove(channel) && m_up)
        send(m_subscriber.context, {"UNSUBSCRIBE", channel}, &RedisLink::onPushCallback, this);
}

void RedisLink::onPush(const redisReply* reply)
{
    if (reply->type != REDIS_REPLY_ARRAY || reply->elements != 3 || reply->element[0]->type != REDIS_REPLY_STRING
        || qstrcmp(reply->element[0]->str, "message") != 0 || reply->element[2]->type != REDIS_REPLY_STRING)
        return;
    emit message(QByteArray(reply->element[1]->str, int(reply->element[1]->len)),
                 QByteArray(reply->element[2]->str, int(reply->element[2]->len)));
}

void RedisLink::onConnectedCallback(const redisAsyncContext* context, int status)
{
    static_cast<RedisLink*>(context->data)->onConnected(context, status);
}

void RedisLink::onDisconnectedCallback(const redisAsyncContext* context, int)
{
    auto* link = static_cast<RedisLink*>(context->data);
    if (!link->m_closing)
        link->onDisconnected(context);
}

void RedisLink::onReplyCallback(redisAsyncContext*, void* reply, void* data)
{
    const std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
    --pending->link->m_pending;
    if (pending->reply && !pending->link->m_closing)
        pending->reply(static_cast<const redisReply*>(reply));
}

void RedisLink::onPushCallback(redisAsyncContext*, void* reply, void* data)
{
    auto* link = static_cast<RedisLink*>(data);
    if (reply && !link->m_closing)
        link->onPush(static_cast<const redisReply*>(reply));
}
