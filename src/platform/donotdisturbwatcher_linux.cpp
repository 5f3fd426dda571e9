// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/donotdisturbwatcher.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QDebug>
#include <QProcess>

namespace {

const QString NOTIFICATIONS = QStringLiteral("org.freedesktop.Notifications");
const QString NOTIFICATIONS_PATH = QStringLiteral("/org/freedesktop/Notifications");
const QString PROPERTIES = QStringLiteral("org.freedesktop.DBus.Properties");
const QString INHIBITED = QStringLiteral("Inhibited");
// GNOME's key, read with the gsettings tool: it takes whatever GSettings back end the session
// uses, and neither GLib nor its main loop comes into the program.
const QStringList BANNERS_KEY{QStringLiteral("org.gnome.desktop.notifications"), QStringLiteral("show-banners")};

} // namespace

// One gsettings reads the key at start; a second one reports each change for as long as the
// watcher lives.
struct DoNotDisturbWatcher::Platform
{
    QProcess read;
    QProcess monitor;
};

DoNotDisturbWatcher::DoNotDisturbWatcher(QObject* parent)
    : BusyWatcher(parent)
    , m_platform(std::make_unique<Platform>())
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        // QtDBus connects a bus signal only by signature.
        bus.connect(NOTIFICATIONS, NOTIFICATIONS_PATH, PROPERTIES, QStringLiteral("PropertiesChanged"), this,
                    SLOT(onNotificationsChanged(QString, QVariantMap, QStringList)));
        askInhibited(true);
    } else {
        qDebug() << "Ne pas déranger : pas de service de notifications sur le bus de session.";
    }

    // The key is watched first and read after, so that no change falls between the two.
    connect(&m_platform->monitor, &QProcess::started, this, [this] {
        m_platform->read.start(QStringLiteral("gsettings"), QStringList{QStringLiteral("get")} + BANNERS_KEY);
    });
    connect(&m_platform->monitor, &QProcess::errorOccurred, this, [](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            qDebug() << "Ne pas déranger : réglage GNOME show-banners illisible.";
    });
    connect(&m_platform->read, &QProcess::finished, this, [this](int exitCode, QProcess::ExitStatus status) {
        const QByteArray value = m_platform->read.readAllStandardOutput().trimmed();
        if (status != QProcess::NormalExit || exitCode != 0 || (value != "true" && value != "false")) {
            qDebug() << "Ne pas déranger : réglage GNOME show-banners illisible.";
            m_platform->monitor.kill();
            return;
        }
        qDebug() << "Ne pas déranger : réglage GNOME show-banners suivi.";
        setBannersOff(value == "false");
    });
    // Each change comes as a line "show-banners: false".
    connect(&m_platform->monitor, &QProcess::readyReadStandardOutput, this, [this] {
        while (m_platform->monitor.canReadLine()) {
            const QByteArray line = m_platform->monitor.readLine().trimmed();
            if (line.endsWith("true") || line.endsWith("false"))
                setBannersOff(line.endsWith("false"));
        }
    });
    m_platform->monitor.start(QStringLiteral("gsettings"), QStringList{QStringLiteral("monitor")} + BANNERS_KEY);
}

DoNotDisturbWatcher::~DoNotDisturbWatcher()
{
    // No dialogue with a tool that is going away.
    for (QProcess* tool : {&m_platform->read, &m_platform->monitor}) {
        tool->disconnect(this);
        tool->kill();
        tool->waitForFinished();
    }
}

void DoNotDisturbWatcher::askInhibited(bool atStart)
{
    QDBusMessage ask =
        QDBusMessage::createMethodCall(NOTIFICATIONS, NOTIFICATIONS_PATH, PROPERTIES, QStringLiteral("Get"));
    ask << NOTIFICATIONS << INHIBITED;
    auto* reply = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(ask), this);
    connect(reply, &QDBusPendingCallWatcher::finished, this, [this, atStart](QDBusPendingCallWatcher* call) {
        const QDBusPendingReply<QDBusVariant> inhibited = *call;
        call->deleteLater();
        if (inhibited.isValid())
            setInhibited(inhibited.value().variant().toBool());
        else if (atStart)
            qDebug() << "Ne pas déranger : pas de service de notifications sur le bus de session.";
    });
}

void DoNotDisturbWatcher::onNotificationsChanged(const QString& interface, const QVariantMap& changed,
                                                 const QStringList& invalidated)
{
    if (interface != NOTIFICATIONS)
        return;
    if (changed.contains(INHIBITED))
        setInhibited(changed.value(INHIBITED).toBool());
    else if (invalidated.contains(INHIBITED))
        askInhibited(false);
}
