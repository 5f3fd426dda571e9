// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/screenchoice.h"

#include <QCursor>
#include <QDebug>
#include <QGuiApplication>
#include <QMetaEnum>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>

namespace {

const QString SCREEN_KEY = QStringLiteral("screen");

} // namespace

ScreenChoice::ScreenChoice(const QString& filePath, QObject* parent)
    : QObject(parent)
    , m_filePath(filePath)
{
    const QString stored = QSettings(m_filePath, QSettings::IniFormat).value(SCREEN_KEY).toString();
    if (stored.isEmpty())
        return;
    bool known = false;
    const int mode = QMetaEnum::fromType<Mode>().keyToValue(stored.toLatin1().constData(), &known);
    if (known)
        m_mode = Mode(mode);
    else
        qWarning() << "Choix d'écran inconnu, écran principal :" << stored;
}

QString ScreenChoice::path()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/glimdeck.ini");
}

void ScreenChoice::setMode(Mode mode)
{
    m_mode = mode;
    QSettings settings(m_filePath, QSettings::IniFormat);
    settings.setValue(SCREEN_KEY, QString::fromLatin1(QMetaEnum::fromType<Mode>().valueToKey(int(mode))));
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qWarning() << "Choix d'écran non enregistré :" << m_filePath;
    qDebug() << "Écran des photos :" << mode;
}

QList<QScreen*> ScreenChoice::screens() const
{
    QScreen* primary = QGuiApplication::primaryScreen();
    switch (m_mode) {
    case Mode::Primary:
        break;
    case Mode::Mouse:
        if (QScreen* under = QGuiApplication::screenAt(QCursor::pos()))
            return {under};
        break;
    case Mode::All:
        if (!QGuiApplication::screens().isEmpty())
            return QGuiApplication::screens();
        break;
    }
    return {primary};
}
