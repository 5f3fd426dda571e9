#include "systembusmock.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusVariant>
#include <QFile>
#include <QTest>

namespace {

const QString NETWORK_MANAGER = QStringLiteral("org.freedesktop.NetworkManager");
const QString LOGIND = QStringLiteral("org.freedesktop.login1");
const QString MOCK_INTERFACE = QStringLiteral("org.freedesktop.DBus.Mock");

// A bus of the system type that lets its one user own and call everything.
const char* const CONFIGURATION = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:tmpdir=/tmp</listen>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
)";

bool succeeded(const QDBusMessage& reply)
{
    if (reply.type() == QDBusMessage::ErrorMessage)
        qWarning() << "D-Bus mock:" << reply.errorMessage();
    return reply.type() == QDBusMessage::ReplyMessage;
}

} // namespace

SystemBusMock::~SystemBusMock()
{
    for (QProcess* process : {&m_logind, &m_networkManager, &m_daemon}) {
        process->terminate();
        if (!process->waitForFinished(5000))
            process->kill();
    }
}

bool SystemBusMock::start()
{
    QFile configuration(m_dir.filePath(QStringLiteral("system.conf")));
    if (!m_dir.isValid() || !configuration.open(QIODevice::WriteOnly) || configuration.write(CONFIGURATION) < 0)
        return false;
    configuration.close();
    m_daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=") + configuration.fileName(),
                                                   QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!m_daemon.waitForReadyRead(10000))
        return false;
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_daemon.readLine().trimmed());
    startTemplate(m_networkManager, QStringLiteral("networkmanager"));
    startTemplate(m_logind, QStringLiteral("logind"));
    QDBusConnectionInterface* bus = QDBusConnection::systemBus().interface();
    return bus
           && QTest::qWaitFor(
               [bus] { return bus->isServiceRegistered(NETWORK_MANAGER) && bus->isServiceRegistered(LOGIND); }, 20000);
}

void SystemBusMock::startTemplate(QProcess& process, const QString& name)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The system's interpreter, where Debian's python3-dbusmock lives.
    process.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-m"), QStringLiteral("dbusmock"),
                                                       QStringLiteral("--system"), QStringLiteral("--template"), name});
}

bool SystemBusMock::setNetworkState(uint state)
{
    QDBusInterface mock(NETWORK_MANAGER, QStringLiteral("/org/freedesktop/NetworkManager"), MOCK_INTERFACE,
                        QDBusConnection::systemBus());
    return succeeded(mock.call(QStringLiteral("SetGlobalConnectionState"), state));
}

bool SystemBusMock::prepareForSleep(bool sleeping)
{
    QDBusInterface mock(LOGIND, QStringLiteral("/org/freedesktop/login1"), MOCK_INTERFACE,
                        QDBusConnection::systemBus());
    const QVariantList arguments{QVariant::fromValue(QDBusVariant(sleeping))};
    return succeeded(mock.call(QStringLiteral("EmitSignal"), QStringLiteral("org.freedesktop.login1.Manager"),
                               QStringLiteral("PrepareForSleep"), QStringLiteral("b"), arguments));
}
