// SPDX-License-Identifier: GPL-3.0-or-later
#include "loadrun.h"

#include "protocol/clientmessages.h"
#include "protocol/servermessages.h"

#include <QBuffer>
#include <QDebug>
#include <QHttpMultiPart>
#include <QImage>
#include <QJsonArray>
#include <QNetworkReply>
#include <QSocketNotifier>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <utility>

namespace {

QByteArray smallPng()
{
    QImage image(32, 32, QImage::Format_RGB32);
    image.fill(QColor(46, 204, 64));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QHttpPart formField(const QByteArray& disposition, const QByteArray& body)
{
    QHttpPart part;
    part.setHeader(QNetworkRequest::ContentDispositionHeader, disposition);
    part.setBody(body);
    return part;
}

// values: sorted, ascending
double percentileMs(const QList<qint64>& values, double fraction)
{
    if (values.isEmpty())
        return 0;
    const auto index = std::min<qsizetype>(values.size() - 1, qsizetype(fraction * double(values.size())));
    return double(values.at(index)) / 1e6;
}

} // namespace

LoadRun::LoadRun(const Options& options, const QSslConfiguration& tls, QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_tls(tls)
    , m_webSocketUrl(QStringLiteral("wss://%1/").arg(options.server))
    , m_uploadUrl(QStringLiteral("https://%1/upload").arg(options.server))
    , m_picture(smallPng())
    , m_pacer(new QTimer(this))
    , m_drain(new QTimer(this))
    , m_watchdog(new QTimer(this))
{
    m_pacer->setTimerType(Qt::PreciseTimer);
    m_pacer->setInterval(PACER_TICK_MS);
    connect(m_pacer, &QTimer::timeout, this, &LoadRun::onPacerTick);
    m_drain->setSingleShot(true);
    m_drain->setInterval(DRAIN_TIMEOUT_MS);
    connect(m_drain, &QTimer::timeout, this, &LoadRun::onDrainTimeout);
    // Bounded whatever happens: the paced time, plus room for connecting and draining.
    m_watchdog->setSingleShot(true);
    m_watchdog->setInterval(1000 * (options.warmUp + options.uploads) / std::max(1, options.rate) + 120000);
    connect(m_watchdog, &QTimer::timeout, this, &LoadRun::onWatchdogTimeout);
}

void LoadRun::start()
{
    m_clock.start();
    m_watchdog->start();
    for (int i = 0; i < m_options.clients + m_options.otherClients; ++i) {
        Listener listener;
        listener.socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
        listener.inRoom = i < m_options.clients;
        listener.socket->setSslConfiguration(m_tls);
        connect(listener.socket, &QWebSocket::connected, this, [this, i] { onListenerConnected(i); });
        connect(listener.socket, &QWebSocket::disconnected, this, &LoadRun::onListenerDisconnected);
        connect(listener.socket, &QWebSocket::textMessageReceived, this,
                [this, i](const QString& text) { onListenerMessage(i, text); });
        connect(listener.socket, &QWebSocket::sslErrors, this, [](const QList<QSslError>& errors) {
            for (const QSslError& error : errors)
                qWarning().noquote() << "TLS refusé :" << error.errorString();
        });
        m_listeners.append(listener);
        listener.socket->open(m_webSocketUrl);
    }
}

void LoadRun::onListenerConnected(int index)
{
    const Listener& listener = m_listeners.at(index);
    const QString room = listener.inRoom ? m_options.room : m_options.otherRoom;
    listener.socket->sendTextMessage(ClientMessages::roomsText({room}));
    if (++m_connected < m_listeners.size())
        return;
    qDebug() << "Listeners connected:" << m_connected << "in" << m_clock.elapsed() << "ms";
    // The server reads each subscription on its own connection; give it a moment before the first photo.
    QTimer::singleShot(SETTLE_MS, this, [this] { startBatch(QStringLiteral("warmup"), m_options.warmUp); });
}

void LoadRun::onListenerDisconnected()
{
    auto* socket = qobject_cast<QWebSocket*>(sender());
    ++m_lostListeners;
    qWarning().noquote() << "Listener lost:" << socket->errorString() << socket->closeReason();
}

void LoadRun::onListenerMessage(int index, const QString& text)
{
    const std::optional<BroadcastPhoto> photo =
        ServerMessages::photoOf(WireMessage::parse(text).value_or(WireMessage::Parsed()));
    if (!photo)
        return;
    Listener& listener = m_listeners[index];
    if (!listener.inRoom) {
        ++listener.foreign;
        return;
    }
    const QString& message = photo->message;
    const QString prefix = m_tag + QLatin1Char('-');
    bool ok = false;
    const int number = message.startsWith(prefix) ? message.mid(prefix.size()).toInt(&ok) : -1;
    if (!ok || number < 0 || number >= m_batchSize) {
        ++m_unexpected;
        qWarning().noquote() << "Unexpected photo message:" << message;
        return;
    }
    const qint64 now = m_clock.nsecsElapsed();
    ++listener.received[number];
    m_latenciesNs.append(now - m_sentAtNs.at(number));
    m_lastDeliveryNs = now;
    checkBatchComplete();
}

void LoadRun::startBatch(const QString& tag, int count)
{
    m_tag = tag;
    m_batchSize = count;
    m_sent = m_answered = m_accepted = 0;
    m_acceptedUploads = QList<bool>(count, false);
    m_sentAtNs = QList<qint64>(count, 0);
    m_latenciesNs.clear();
    m_latenciesNs.reserve(qsizetype(count) * m_options.clients);
    for (Listener& listener : m_listeners)
        listener.received = QList<int>(count, 0);
    m_clock.restart();
    m_lastAnswerNs = m_lastDeliveryNs = 0;
    if (count == 0)
        finishBatch();
    else
        m_pacer->start();
}

QByteArray LoadRun::uploadMessage(int number) const
{
    return (m_tag + QLatin1Char('-') + QString::number(number)).toUtf8();
}

void LoadRun::onPacerTick()
{
    // Paced on the clock rather than on the timer's ticks, so late ticks do not lower the rate.
    const qint64 due = std::min<qint64>(m_batchSize, m_clock.nsecsElapsed() * m_options.rate / 1000000000 + 1);
    while (m_sent < due) {
        const int number = m_sent++;
        auto* form = new QHttpMultiPart(QHttpMultiPart::FormDataType);
        form->append(formField("form-data; name=\"room\"", m_options.room.toUtf8()));
        form->append(formField("form-data; name=\"message\"", uploadMessage(number)));
        QHttpPart picture = formField("form-data; name=\"picture\"; filename=\"load.png\"", m_picture);
        picture.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("image/png"));
        form->append(picture);
        QNetworkRequest request(m_uploadUrl);
        request.setSslConfiguration(m_tls);
        m_sentAtNs[number] = m_clock.nsecsElapsed();
        QNetworkReply* reply = m_network.post(request, form);
        form->setParent(reply);
        connect(reply, &QNetworkReply::finished, this, [this, reply, number] { onUploadFinished(reply, number); });
    }
    if (m_sent == m_batchSize)
        m_pacer->stop();
}

void LoadRun::onUploadFinished(QNetworkReply* reply, int number)
{
    reply->deleteLater();
    ++m_answered;
    m_lastAnswerNs = m_clock.nsecsElapsed();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() == QNetworkReply::NoError && status == 200) {
        m_acceptedUploads[number] = true;
        ++m_accepted;
    } else {
        qWarning().noquote() << "Upload" << number << "refused:" << status << reply->errorString();
    }
    if (m_answered == m_batchSize)
        m_drain->start();
    checkBatchComplete();
}

void LoadRun::checkBatchComplete()
{
    if (m_answered < m_batchSize)
        return;
    for (const Listener& listener : std::as_const(m_listeners)) {
        if (!listener.inRoom)
            continue;
        for (int number = 0; number < m_batchSize; ++number) {
            if (m_acceptedUploads.at(number) && listener.received.at(number) == 0)
                return;
        }
    }
    m_drain->stop();
    finishBatch();
}

void LoadRun::onDrainTimeout()
{
    qWarning() << "Some photos never arrived within" << DRAIN_TIMEOUT_MS << "ms after the last upload";
    finishBatch();
}

void LoadRun::finishBatch()
{
    if (m_tag == QLatin1String("warmup")) {
        std::printf("LOAD warm-up: %d uploads, %d accepted, before any figure is taken\n", m_batchSize, m_accepted);
        std::fflush(stdout);
        pauseThen("before", &LoadRun::startMeasured);
    } else {
        m_tag.clear(); // photos arriving late now count as unexpected, not as this batch's
        printFigures();
        pauseThen("after", &LoadRun::end);
    }
}

void LoadRun::startMeasured()
{
    startBatch(QStringLiteral("load"), m_options.uploads);
}

void LoadRun::printFigures()
{
    int minimum = m_batchSize;
    int maximum = 0;
    int duplicates = 0;
    int missing = 0;
    int foreign = 0;
    int otherClients = 0;
    for (const Listener& listener : std::as_const(m_listeners)) {
        if (!listener.inRoom) {
            ++otherClients;
            foreign += listener.foreign;
            continue;
        }
        int distinct = 0;
        for (int number = 0; number < m_batchSize; ++number) {
            const int count = listener.received.at(number);
            distinct += count > 0 ? 1 : 0;
            duplicates += std::max(0, count - 1);
            missing += m_acceptedUploads.at(number) && count == 0 ? 1 : 0;
        }
        minimum = std::min(minimum, distinct);
        maximum = std::max(maximum, distinct);
    }
    const double elapsedS = double(std::max(m_lastAnswerNs, m_lastDeliveryNs)) / 1e9;
    const double rate = elapsedS > 0 ? m_accepted / elapsedS : 0;
    std::printf("LOAD uploads: %d sent, %d accepted (goal %d)\n", m_sent, m_accepted, m_batchSize);
    std::printf("LOAD %d clients in room \"%s\": photos received per client min %d, max %d (goal %d)\n",
                m_options.clients, qPrintable(m_options.room), minimum, maximum, m_accepted);
    std::printf("LOAD duplicates %d, missing %d, unexpected %d (goal 0 each), listeners lost %d\n", duplicates, missing,
                m_unexpected, m_lostListeners);
    std::printf("LOAD photos seen by the %d clients of room \"%s\": %d (goal 0)\n", otherClients,
                qPrintable(m_options.otherRoom), foreign);
    std::printf("LOAD elapsed %.2f s (first upload to last answer or photo), achieved rate %.1f uploads/s "
                "(target %d, goal >= %.1f)\n",
                elapsedS, rate, m_options.rate, 0.95 * m_options.rate);
    std::sort(m_latenciesNs.begin(), m_latenciesNs.end());
    std::printf("LOAD upload to photo latency: median %.1f ms, p99 %.1f ms, max %.1f ms\n",
                percentileMs(m_latenciesNs, 0.5), percentileMs(m_latenciesNs, 0.99), percentileMs(m_latenciesNs, 1));
    std::fflush(stdout);
    m_goalsMet = m_accepted == m_batchSize && m_sent == m_batchSize && minimum == m_accepted && duplicates == 0
                 && missing == 0 && m_unexpected == 0 && foreign == 0 && m_lostListeners == 0
                 && rate >= 0.95 * m_options.rate;
}

void LoadRun::pauseThen(const char* label, void (LoadRun::*next)())
{
    if (!m_options.pause) {
        (this->*next)();
        return;
    }
    m_afterPause = next;
    if (!m_input) {
        m_input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_input, &QSocketNotifier::activated, this, &LoadRun::onStandardInput);
    }
    m_input->setEnabled(true);
    std::printf("PAUSE %s\n", label);
    std::fflush(stdout);
}

void LoadRun::onStandardInput()
{
    // One line, or the end of the input, lets the run go on.
    char byte = 0;
    ssize_t read = 0;
    while ((read = ::read(STDIN_FILENO, &byte, 1)) == 1 && byte != '\n') {
    }
    m_input->setEnabled(false);
    if (const auto next = std::exchange(m_afterPause, nullptr))
        (this->*next)();
}

void LoadRun::onWatchdogTimeout()
{
    qWarning() << "Load run stopped by its time limit:" << m_connected << "listeners connected," << m_answered << "of"
               << m_batchSize << "uploads answered in batch" << m_tag;
    m_goalsMet = false;
    end();
}

void LoadRun::end()
{
    m_watchdog->stop();
    m_pacer->stop();
    m_drain->stop();
    for (const Listener& listener : std::as_const(m_listeners)) {
        listener.socket->disconnect(this);
        listener.socket->close();
    }
    emit finished(m_goalsMet);
}
