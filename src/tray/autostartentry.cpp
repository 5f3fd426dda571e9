// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/autostartentry.h"

#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <QSettings>
#else
#include <QFile>
#include <QSaveFile>
#endif

namespace {

#ifdef Q_OS_WIN
const QString RUN_KEY = QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
#endif

// Characters that force an Exec argument into double quotes.
const QString EXEC_RESERVED = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");

QString configHome()
{
    // Relative values are to be ignored, as if unset.
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured))
        return configured;
    return QDir::homePath() + QStringLiteral("/.config");
}

// The escapes of a desktop entry string value, undone by readers before the Exec quoting.
QString escapeStringValue(const QString& value)
{
    QString escaped;
    for (const QChar c : value) {
        if (c == QLatin1Char('\\'))
            escaped += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            escaped += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            escaped += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            escaped += QStringLiteral("\\r");
        else
            escaped += c;
    }
    return escaped;
}

} // namespace

AutostartEntry::AutostartEntry(const QString& executablePath)
    : m_executablePath(executablePath)
{
}

QString AutostartEntry::runValueName(const QString& executablePath)
{
    return QFileInfo(executablePath).baseName();
}

QString AutostartEntry::runValueData(const QString& executablePath)
{
    // Written out rather than QDir::toNativeSeparators so that the Windows form comes out the
    // same on every platform.
    QString data = executablePath;
    data.replace(QLatin1Char('/'), QLatin1Char('\\'));
    if (data.contains(QLatin1Char(' ')))
        data = QLatin1Char('"') + data + QLatin1Char('"');
    return data;
}

QString AutostartEntry::desktopEntryPath(const QString& executablePath)
{
    return configHome() + QStringLiteral("/autostart/") + QFileInfo(executablePath).baseName()
           + QStringLiteral(".desktop");
}

QString AutostartEntry::desktopExec(const QString& executablePath)
{
    bool quoted = false;
    for (const QChar c : executablePath)
        quoted = quoted || EXEC_RESERVED.contains(c);
    QString exec;
    for (const QChar c : executablePath) {
        if (quoted && QStringView(u"\"`$\\").contains(c))
            exec += QLatin1Char('\\');
        // A lone percent sign would be read as a field code.
        if (c == QLatin1Char('%'))
            exec += QLatin1Char('%');
        exec += c;
    }
    if (quoted)
        exec = QLatin1Char('"') + exec + QLatin1Char('"');
    return escapeStringValue(exec);
}

QByteArray AutostartEntry::desktopEntry(const QString& executablePath)
{
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Glim-deck\n"
                                         "Exec=%1\n"
                                         "Icon=glimdeck\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(desktopExec(executablePath));
    return entry.toUtf8();
}

#ifdef Q_OS_WIN

bool AutostartEntry::exists() const
{
    const QSettings settings(RUN_KEY, QSettings::NativeFormat);
    return settings.value(runValueName(m_executablePath)).isValid();
}

bool AutostartEntry::write() const
{
    QSettings settings(RUN_KEY, QSettings::NativeFormat);
    settings.setValue(runValueName(m_executablePath), runValueData(m_executablePath));
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool AutostartEntry::remove() const
{
    QSettings settings(RUN_KEY, QSettings::NativeFormat);
    settings.remove(runValueName(m_executablePath));
    settings.sync();
    return settings.status() == QSettings::NoError && !settings.contains(runValueName(m_executablePath));
}

#else

bool AutostartEntry::exists() const
{
    return QFileInfo(desktopEntryPath(m_executablePath)).isFile();
}

bool AutostartEntry::write() const
{
    const QString path = desktopEntryPath(m_executablePath);
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray content = desktopEntry(m_executablePath);
    if (file.write(content) != content.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool AutostartEntry::remove() const
{
    const QString path = desktopEntryPath(m_executablePath);
    if (!QFileInfo(path).isFile())
        return true;
    return QFile::remove(path);
}

#endif
