// SPDX-License-Identifier: GPL-3.0-or-later
#include "groupcount.h"

#include "redislink.h"

#include <hiredis/hiredis.h>

namespace {

const QByteArray INSTANCES = "glimdeck:instances";
const QByteArray COUNT_PREFIX = "glimdeck:count:";

// One round trip: the other live instances' counts summed, the names of those gone dropped.
const QByteArray SUM_SCRIPT = R"(local total = 0
for _, name in ipairs(redis.call('SMEMBERS', KEYS[1])) do
  local count = redis.call('GET', ARGV[1] .. name)
  if not count then redis.call('SREM', KEYS[1], name)
  elseif name ~= ARGV[2] then total = total + tonumber(count) end
end
return total)";

} // namespace

GroupCount::GroupCount(RedisLink& link, const QString& instance, const std::function<int()>& localCount,
                       QObject* parent)
    : QObject(parent)
    , m_link(link)
    , m_instance(instance.toUtf8())
    , m_localCount(localCount)
{
    connect(&m_heartbeat, &QTimer::timeout, this, &GroupCount::onHeartbeat);
    connect(&link, &RedisLink::up, this, &GroupCount::onHeartbeat);
    m_heartbeat.start(HEARTBEAT_MS);
}

void GroupCount::onHeartbeat()
{
    m_link.command({"SET", COUNT_PREFIX + m_instance, QByteArray::number(m_localCount()), "EX",
                    QByteArray::number(EXPIRY_SECONDS)});
    m_link.command({"SADD", INSTANCES, m_instance});
}

void GroupCount::total(const std::function<void(qint64)>& answer)
{
    // This instance's own count is the one it knows now, not its last heartbeat.
    m_link.command({"EVAL", SUM_SCRIPT, "1", INSTANCES, COUNT_PREFIX, m_instance},
                   [this, answer](const redisReply* reply) {
                       answer(m_localCount() + (reply && reply->type == REDIS_REPLY_INTEGER ? reply->integer : 0));
                   });
}
