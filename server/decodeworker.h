// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "picturestore.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QTimer>

#include <functional>

// Decodes and re-encodes uploads in a child process, one at a time: this very program started
// again with WORKER_ARGUMENT, its memory and CPU time capped by the kernel, fed the upload on
// its standard input and answering the stored picture on its standard output. Whatever a file
// makes the decoder do, the server only ever loses the child.
class DecodeWorker : public QObject
{
    Q_OBJECT

public:
    static constexpr const char* WORKER_ARGUMENT = "--decode-worker";

    using Done = std::function<void(const PictureStore::Encoded& picture)>;

    // program: the executable to start with WORKER_ARGUMENT; empty for this one.
    explicit DecodeWorker(const QString& program, QObject* parent = nullptr);
    ~DecodeWorker() override;

    // done runs later, on this thread, unless the worker is destroyed first.
    void reencode(const QByteArray& upload, Done done);

    // The child's side, called from main before anything else: limits, then standard input to
    // standard output. Returns the exit status.
    static int runChild(int argc, char* argv[]);

private:
    struct Job
    {
        QByteArray upload;
        Done done;
    };
    void startNext();
    void writeMore();
    void onReadyRead();
    void onFinished(int exitCode, QProcess::ExitStatus status);
    void onDeadline();
    void finish(const PictureStore::Encoded& picture);

    QString m_program;
    QList<Job> m_queue;
    QProcess m_process;
    QTimer m_deadline;
    qint64 m_written = 0;
    QByteArray m_answer;
    bool m_running = false;
};
