// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/clientmessages.h"
#include "protocol/servermessages.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

using Known = QHash<QString, qint64>;
Q_DECLARE_METATYPE(BroadcastPhoto)

const BroadcastPhoto NONE{-1, {}, {}, {}, {}, false};

// Each message as it travels, read by the other side, and written back where that gives the same text.
class TestProtocol : public QObject
{
    Q_OBJECT

    static QStringList roomsOfCount(int count)
    {
        QStringList rooms;
        for (int i = 0; i < count; ++i)
            rooms.append(QString::number(i));
        return rooms;
    }

    static QString json(const QStringList& rooms)
    {
        return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(rooms)).toJson(QJsonDocument::Compact));
    }

    static WireMessage::Parsed parsed(const QString& text)
    {
        return WireMessage::parse(text).value_or(WireMessage::Parsed());
    }

private slots:
    void roomLists_data(); // out of the class: moc misreads raw strings

    void roomLists()
    {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QFETCH(QStringList, rooms);
        QFETCH(bool, written);
        const std::optional<QStringList> read = ClientMessages::roomsOf(parsed(text));
        QCOMPARE(read.has_value(), accepted);
        QCOMPARE(read.value_or(QStringList()), rooms);
        QCOMPARE(ClientMessages::roomsText(QJsonArray::fromStringList(rooms)) == text, written);
    }

    void missedRequests_data();

    void missedRequests()
    {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QFETCH(Known, known);
        QFETCH(bool, written);
        const std::optional<Known> read = ClientMessages::knownOf(parsed(text));
        QCOMPARE(read.has_value(), accepted);
        QCOMPARE(read.value_or(Known()), known);
        QJsonObject ids;
        for (auto it = known.cbegin(); it != known.cend(); ++it)
            ids.insert(it.key(), it.value());
        QCOMPARE(ClientMessages::missedRequestText(ids) == text, written);
    }

    void photos_data();

    void photos()
    {
        QFETCH(QString, text);
        QFETCH(bool, photo);
        QFETCH(BroadcastPhoto, read);
        QFETCH(bool, written);
        const std::optional<BroadcastPhoto> taken = ServerMessages::photoOf(parsed(text));
        QCOMPARE(taken.has_value(), photo);
        QCOMPARE(ServerMessages::fieldsOf(taken.value_or(NONE)), ServerMessages::fieldsOf(read));
        QCOMPARE(ServerMessages::photoText(read) == text, written);
    }

    void catchUpEnds_data();

    void catchUpEnds()
    {
        QFETCH(QString, text);
        QFETCH(bool, ended);
        QFETCH(int, count);
        QFETCH(qint64, latest);
        QFETCH(bool, written);
        const std::optional<qint64> read = ServerMessages::latestOf(parsed(text));
        QCOMPARE(read.has_value(), ended);
        QCOMPARE(read.value_or(-1), latest);
        QCOMPARE(ServerMessages::missedDoneText(count, latest) == text, written);
    }
};

void TestProtocol::roomLists_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QStringList>("rooms");
    QTest::addColumn<bool>("written");
    const QString list = uR"({"data":{"rooms":%1},"event":"room:changed"})"_s;
    QTest::newRow("none") << list.arg("[]") << true << QStringList() << true;
    QTest::newRow("in order") << list.arg(R"(["b","a"])") << true << QStringList{"b", "a"} << true;
    QTest::newRow("trimmed, once each") << list.arg(R"([" a","a "])") << true << QStringList{"a"} << false;
    QTest::newRow("ten characters") << list.arg(R"(["abcdéfghij"])") << true << QStringList{"abcdéfghij"} << true;
    QTest::newRow("members in any order")
        << uR"({"event":"room:changed","data":{"rooms":["a"]}})"_s << true << QStringList{"a"} << false;
    QTest::newRow("fifty") << list.arg(json(roomsOfCount(50))) << true << roomsOfCount(50) << true;
    QTest::newRow("fifty-one") << list.arg(json(roomsOfCount(51))) << false << QStringList() << false;
    QTest::newRow("spaces only") << list.arg(R"(["r1","  "])") << true << QStringList{"r1"} << false;
    QTest::newRow("not a string") << list.arg(R"(["r1",1])") << true << QStringList{"r1"} << false;
    QTest::newRow("not a list") << list.arg(R"("r1")") << false << QStringList() << false;
    QTest::newRow("another event") << uR"({"data":{"rooms":["a"]},"event":"photos:missed-request"})"_s << false
                                   << QStringList() << false;
    QTest::newRow("event in other case") << uR"({"data":{"rooms":["a"]},"event":"Room:Changed"})"_s << false
                                         << QStringList() << false;
    QTest::newRow("not JSON") << u"pas du JSON"_s << false << QStringList() << false;
}

void TestProtocol::missedRequests_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<Known>("known");
    QTest::addColumn<bool>("written");
    const QString request = uR"({"data":{"known":%1},"event":"photos:missed-request"})"_s;
    QJsonObject fiftyOne;
    for (const QString& room : roomsOfCount(51))
        fiftyOne.insert(room, 0);
    QTest::newRow("none") << request.arg("{}") << true << Known() << true;
    QTest::newRow("per room") << request.arg(R"({"r1":5,"r2":0})") << true << Known{{"r1", 5}, {"r2", 0}} << true;
    QTest::newRow("largest exact id") << request.arg(R"({"r1":9007199254740991})") << true
                                      << Known{{"r1", 9007199254740991}} << true;
    QTest::newRow("past it") << request.arg(R"({"r1":9007199254740992})") << false << Known() << false;
    QTest::newRow("negative") << request.arg(R"({"r1":-1})") << false << Known() << false;
    QTest::newRow("fraction") << request.arg(R"({"r1":1.5})") << false << Known() << false;
    QTest::newRow("id as text") << request.arg(R"({"r1":"5"})") << false << Known() << false;
    QTest::newRow("eleven characters") << request.arg(R"({"abcdefghijk":1})") << false << Known() << false;
    QTest::newRow("fifty-one rooms") << request.arg(
        QString::fromUtf8(QJsonDocument(fiftyOne).toJson(QJsonDocument::Compact)))
                                     << false << Known() << false;
    QTest::newRow("not an object") << request.arg("[]") << false << Known() << false;
    QTest::newRow("another event") << uR"({"data":{"known":{}},"event":"room:changed"})"_s << false << Known() << false;
}

void TestProtocol::photos_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("photo");
    QTest::addColumn<BroadcastPhoto>("read");
    QTest::addColumn<bool>("written");
    // As the server's clock gives it: in UTC, written with a "Z".
    const QDateTime noon = QDateTime::fromString(u"2026-12-08T12:00:00.005Z"_s, Qt::ISODateWithMs);
    const BroadcastPhoto live{7, noon, u"r1"_s, u"/images/a.png"_s, u"Salut"_s, false};
    BroadcastPhoto caughtUp = live;
    caughtUp.missed = true;
    BroadcastPhoto older = NONE;
    older.image = u"/b"_s;
    QTest::newRow("live") << uR"({"data":{"id":7,"image":"/images/a.png","message":"Salut","room":"r1",)"
                             uR"("time":"2026-12-08T12:00:00.005Z"},"event":"photo:broadcast"})"_s
                          << true << live << true;
    QTest::newRow("caught up") << uR"({"data":{"id":7,"image":"/images/a.png","message":"Salut","missed":true,)"
                                  uR"("room":"r1","time":"2026-12-08T12:00:00.005Z"},"event":"photo:broadcast"})"_s
                               << true << caughtUp << true;
    QTest::newRow("from an older server")
        << uR"({"event":"photo:broadcast","data":{"image":"/b","x":1},"y":2})"_s << true << older << false;
    QTest::newRow("no data") << uR"({"event":"photo:broadcast"})"_s << true << NONE << false;
    QTest::newRow("wrong types")
        << uR"({"data":{"id":"7","image":5,"message":[],"missed":1,"room":{},"time":0},"event":"photo:broadcast"})"_s
        << true << NONE << false;
    QTest::newRow("another event") << uR"({"data":{"image":"/a"},"event":"room:changed"})"_s << false << NONE << false;
    QTest::newRow("event in other case") << uR"({"data":{"image":"/a"},"event":"Photo:Broadcast"})"_s << false << NONE
                                         << false;
}

void TestProtocol::catchUpEnds_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ended");
    QTest::addColumn<int>("count");
    QTest::addColumn<qint64>("latest");
    QTest::addColumn<bool>("written");
    QTest::newRow("ended") << uR"({"data":{"count":3,"latest":42},"event":"photos:missed-done"})"_s << true << 3
                           << qint64(42) << true;
    QTest::newRow("no newest id") << uR"({"event":"photos:missed-done"})"_s << true << 0 << qint64(-1) << false;
    QTest::newRow("another event") << uR"({"data":{"latest":42},"event":"photo:broadcast"})"_s << false << 0
                                   << qint64(-1) << false;
}

QTEST_MAIN(TestProtocol)
#include "tst_protocol.moc"
