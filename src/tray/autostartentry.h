// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// Launching one executable at log-on: the per-user "Run" registry value on Windows, an XDG
// autostart entry elsewhere (the native settings store off Windows is a plain file that no
// desktop reads). Each operation reports whether it took effect.
class AutostartEntry
{
public:
    explicit AutostartEntry(const QString& executablePath);

    bool exists() const;
    bool write() const;
    bool remove() const;

    // The Run value: named after the file name up to its first dot; the data is the path with
    // backslashes, in double quotes when it holds a space, so that Windows does not try
    // "C:\Program.exe" for "C:\Program Files\...".
    static QString runValueName(const QString& executablePath);
    static QString runValueData(const QString& executablePath);

    // $XDG_CONFIG_HOME/autostart/<base name>.desktop and what it holds.
    static QString desktopEntryPath(const QString& executablePath);
    static QString desktopExec(const QString& executablePath);
    static QByteArray desktopEntry(const QString& executablePath);

private:
    QString m_executablePath;
};
