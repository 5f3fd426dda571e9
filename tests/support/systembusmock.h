#pragma once

#include <QProcess>
#include <QTemporaryDir>

// A private system bus for the test process, with python3-dbusmock's NetworkManager (connected
// at first) and logind on it. Start it before anything in the process opens the system bus;
// everything stops with the object.
class SystemBusMock
{
public:
    // NetworkManager's global states.
    static constexpr uint DISCONNECTED = 20;
    static constexpr uint CONNECTED_GLOBAL = 70;

    SystemBusMock() = default;
    ~SystemBusMock();
    SystemBusMock(const SystemBusMock&) = delete;
    SystemBusMock& operator=(const SystemBusMock&) = delete;

    bool start();
    bool setNetworkState(uint state);
    bool prepareForSleep(bool sleeping);

private:
    void startTemplate(QProcess& process, const QString& name);

    QTemporaryDir m_dir;
    QProcess m_daemon;
    QProcess m_networkManager;
    QProcess m_logind;
};
