// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/speechvoice.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>

class SpeechEngine;

// Speech engines prepared ahead, as many as photos can be on screen together, and lent to
// sessions one at a time: a photo never waits for an engine to be built, and an engine is not
// built anew for every photo. Building starts when speech is first wanted. Each loan chooses
// the voice anew and writes what it found to the log.
class SpeechEngines : public QObject
{
    Q_OBJECT

public:
    using Lent = std::function<void(SpeechEngine*)>;

    // An empty back-end is Qt's default one.
    explicit SpeechEngines(int count, const QString& backEnd = QString(), QObject* parent = nullptr);
    ~SpeechEngines() override;

    void prepare();
    // onLent runs once an engine is ready for the borrower, and never after the borrower is gone.
    void borrow(QObject* borrower, const Lent& onLent);
    // The engine goes to the next borrower; what it still says is the giver's to stop.
    void giveBack(SpeechEngine* engine);

private:
    struct Borrower
    {
        QPointer<QObject> object;
        Lent onLent;
    };

    void buildNext();
    void onBuilt(SpeechEngine* engine, const QString& backEnd);
    void onVoiceSetUp(SpeechEngine* engine, const SpeechVoice::SetUp& setUp);
    void lendNext();

    static constexpr auto FLITE = "flite";

    int m_count;
    QString m_backEnd;
    QList<SpeechEngine*> m_engines;
    QList<SpeechEngine*> m_free;
    QList<Borrower> m_waiting;
    QHash<SpeechEngine*, Borrower> m_settingUp;
};
