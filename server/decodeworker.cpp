// SPDX-License-Identifier: GPL-3.0-or-later
#include "decodeworker.h"

#include "pictureheader.h"
#include "serverlimits.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QImageReader>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

namespace {

const QByteArray SEPARATOR = "\n";

#ifdef Q_OS_UNIX
bool limit(int resource, rlim_t soft, rlim_t hard)
{
    const rlimit value{soft, hard};
    return ::setrlimit(resource, &value) == 0;
}
#endif

// Caps this process before it reads a byte of the upload; false when the kernel refused.
bool limitSelf()
{
#ifdef Q_OS_UNIX
    // Sanitizers reserve terabytes of address space for their shadow memory.
#if !defined(__SANITIZE_ADDRESS__)
    if (!limit(RLIMIT_AS, ServerLimits::DECODER_MEMORY_BYTES, ServerLimits::DECODER_MEMORY_BYTES))
        return false;
#endif
    // SIGXCPU at the soft limit, SIGKILL a second later.
    return limit(RLIMIT_CPU, ServerLimits::DECODER_CPU_SECONDS, ServerLimits::DECODER_CPU_SECONDS + 1)
           && limit(RLIMIT_CORE, 0, 0);
#else
    return true;
#endif
}

} // namespace

DecodeWorker::DecodeWorker(const QString& program, QObject* parent)
    : QObject(parent)
    , m_program(program.isEmpty() ? QCoreApplication::applicationFilePath() : program)
{
    // A hostile file can make a decoder warn without end: the child's own messages are dropped.
    m_process.setStandardErrorFile(QProcess::nullDevice());
    connect(&m_process, &QProcess::bytesWritten, this, &DecodeWorker::writeMore);
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &DecodeWorker::onReadyRead);
    connect(&m_process, &QProcess::finished, this, &DecodeWorker::onFinished);
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        qWarning().noquote() << "Décodeur impossible à lancer :" << m_program << m_process.errorString();
        finish({});
    });
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &DecodeWorker::onDeadline);
}

DecodeWorker::~DecodeWorker()
{
    m_process.disconnect(this);
}

void DecodeWorker::reencode(const QByteArray& upload, Done done)
{
    const QString refusal = PictureHeader::refusal(upload);
    if (!refusal.isEmpty()) {
        QMetaObject::invokeMethod(
            this,
            [done, refusal] {
                done({QByteArray(), QString(), refusal});
            },
            Qt::QueuedConnection);
        return;
    }
    m_queue.append({upload, std::move(done)});
    if (!m_running)
        startNext();
}

void DecodeWorker::startNext()
{
    if (m_running || m_queue.isEmpty())
        return;
    m_running = true;
    m_written = 0;
    m_answer.clear();
    m_deadline.start(ServerLimits::DECODER_DEADLINE_MS);
    m_process.start(m_program, {QLatin1String(WORKER_ARGUMENT)});
    writeMore();
}

// The upload goes down the pipe a chunk at a time as the child reads it, never copied whole.
void DecodeWorker::writeMore()
{
    if (!m_running || m_process.bytesToWrite() > 0 || m_written < 0)
        return;
    const QByteArray& upload = m_queue.first().upload;
    const qint64 chunk = qMin(ServerLimits::DECODER_WRITE_CHUNK_BYTES, upload.size() - m_written);
    m_process.write(upload.constData() + m_written, chunk);
    m_written += chunk;
    if (m_written == upload.size()) {
        m_process.closeWriteChannel();
        m_written = -1;
    }
}

void DecodeWorker::onReadyRead()
{
    m_answer += m_process.readAllStandardOutput();
    if (m_answer.size() > ServerLimits::MAX_DECODER_ANSWER_BYTES) {
        qWarning() << "Décodage abandonné : réponse de plus de" << ServerLimits::MAX_DECODER_ANSWER_BYTES << "octets";
        m_process.kill();
    }
}

void DecodeWorker::onDeadline()
{
    qWarning() << "Décodage abandonné : plus de" << ServerLimits::DECODER_DEADLINE_MS << "ms";
    m_process.kill();
}

void DecodeWorker::onFinished(int exitCode, QProcess::ExitStatus status)
{
    m_deadline.stop();
    onReadyRead();
    PictureStore::Encoded picture;
    const qsizetype separator = m_answer.indexOf(SEPARATOR);
    if (status == QProcess::NormalExit && exitCode == 0 && separator > 0) {
        picture.extension = QString::fromLatin1(m_answer.left(separator));
        picture.bytes = m_answer.mid(separator + 1);
    } else if (status == QProcess::CrashExit) {
        qWarning() << "Décodeur arrêté : limite de mémoire ou de temps atteinte, ou fichier qui le fait tomber";
    }
    finish(picture);
}

void DecodeWorker::finish(const PictureStore::Encoded& picture)
{
    m_deadline.stop();
    m_answer.clear();
    m_running = false;
    const Job job = m_queue.takeFirst();
    // The next child starts once this one's process is wholly done with.
    QMetaObject::invokeMethod(this, &DecodeWorker::startNext, Qt::QueuedConnection);
    job.done(picture);
}

int DecodeWorker::runChild(int argc, char* argv[])
{
    if (!limitSelf())
        return 3;
    QCoreApplication application(argc, argv);
    QImageReader::setAllocationLimit(ServerLimits::DECODE_LIMIT_MIB);
    QFile input;
    QFile output;
    if (!input.open(stdin, QIODevice::ReadOnly) || !output.open(stdout, QIODevice::WriteOnly))
        return 3;
    const QByteArray upload = input.readAll();
    if (!PictureHeader::refusal(upload).isEmpty())
        return 1;
    const PictureStore::Encoded picture = PictureStore::reencode(upload);
    if (picture.bytes.isEmpty())
        return 1;
    const QByteArray answer = picture.extension.toLatin1() + SEPARATOR;
    return output.write(answer) == answer.size() && output.write(picture.bytes) == picture.bytes.size() ? 0 : 3;
}
