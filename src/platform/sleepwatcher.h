// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include <memory>

// Tells when the system resumes from sleep: logind's PrepareForSleep(false) on Linux, the power
// broadcast's resume notice on Windows. Without either it stays silent.
class SleepWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SleepWatcher(QObject* parent = nullptr);
    ~SleepWatcher() override;

signals:
    void resumed();

private slots:
    void onPrepareForSleep(bool sleeping);

private:
    struct Platform;
    std::unique_ptr<Platform> m_platform;
};
