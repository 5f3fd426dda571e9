// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QObject>
#include <QString>

class QScreen;

// Where photos are shown, chosen in the tray: the primary screen, the one under the pointer, or
// every screen. Kept in "glimdeck.ini" beside the room list, so that it outlives a restart.
class ScreenChoice : public QObject
{
    Q_OBJECT

public:
    enum class Mode { Primary, Mouse, All };
    Q_ENUM(Mode)

    ScreenChoice(const QString& filePath, QObject* parent = nullptr);

    static QString path();

    Mode mode() const { return m_mode; }
    void setMode(Mode mode);
    // The screens a photo shown now goes to, never none.
    QList<QScreen*> screens() const;

private:
    QString m_filePath;
    Mode m_mode = Mode::Primary;
};
