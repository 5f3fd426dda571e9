// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/clientmessages.h"
#include "protocol/servermessages.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

// What a side reads of a message; nothing when it refuses the message.
using Rooms = std::optional<QStringList>;
using Ids = QHash<QString, qint64>;
using Known = std::optional<Ids>;
using Latest = std::optional<qint64>;
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

    static QString json(const QJsonDocument& document)
    {
        return QString::fromUtf8(document.toJson(QJsonDocument::Compact));
    }

    static WireMessage::Parsed parsed(const QString& text)
    {
        return WireMessage::parse(text).value_or(WireMessage::Parsed());
    }

    // Every table: the message's text, what is read of it, and whether writing that back gives the text.
    template <class Read>
    static void addColumns()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Read>("read");
        QTest::addColumn<bool>("written");
    }

private slots:
    void roomLists_data(); // out of the class: moc misreads raw strings

    void roomLists()
    {
        QFETCH(QString, text);
        QFETCH(Rooms, read);
        QFETCH(bool, written);
        QCOMPARE(ClientMessages::roomsOf(parsed(text)), read);
        QCOMPARE(ClientMessages::roomsText(QJsonArray::fromStringList(read.value_or(QStringList()))) == text, written);
    }

    void missedRequests_data();

    void missedRequests()
    {
        QFETCH(QString, text);
        QFETCH(Known, read);
        QFETCH(bool, written);
        QCOMPARE(ClientMessages::knownOf(parsed(text)), read);
        const Ids known = read.value_or(Ids());
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
        QFETCH(int, count);
        QFETCH(Latest, read);
        QFETCH(bool, written);
        QCOMPARE(ServerMessages::latestOf(parsed(text)), read);
        QCOMPARE(ServerMessages::missedDoneText(count, read.value_or(-1)) == text, written);
    }
};

void TestProtocol::roomLists_data()
{
    addColumns<Rooms>();
    const QString list = uR"({"data":{"rooms":%1},"event":"room:changed"})"_s;
    const Rooms fifty = roomsOfCount(50);
    QTest::newRow("none") << list.arg("[]") << Rooms(QStringList()) << true;
    QTest::newRow("in order, ten characters")
        << list.arg(R"(["b","abcdéfghij"])") << Rooms(QStringList{"b", "abcdéfghij"}) << true;
    QTest::newRow("trimmed, once each, strings only")
        << list.arg(R"([" a","a ",1])") << Rooms(QStringList{"a"}) << false;
    QTest::newRow("fifty") << list.arg(json(QJsonDocument(QJsonArray::fromStringList(*fifty)))) << fifty << true;
    QTest::newRow("fifty-one") << list.arg(json(QJsonDocument(QJsonArray::fromStringList(roomsOfCount(51))))) << Rooms()
                               << false;
    QTest::newRow("not a list") << list.arg(R"("r1")") << Rooms() << false;
    QTest::newRow("event in other case") << uR"({"data":{"rooms":["a"]},"event":"Room:Changed"})"_s << Rooms() << false;
    QTest::newRow("not JSON") << u"pas du JSON"_s << Rooms() << false;
}

void TestProtocol::missedRequests_data()
{
    addColumns<Known>();
    const QString request = uR"({"data":{"known":%1},"event":"photos:missed-request"})"_s;
    QJsonObject fiftyOne;
    for (const QString& room : roomsOfCount(51))
        fiftyOne.insert(room, 0);
    QTest::newRow("none") << request.arg("{}") << Known(Ids()) << true;
    QTest::newRow("per room, up to the largest exact id")
        << request.arg(R"({"r1":9007199254740991,"r2":0})") << Known(Ids{{"r1", 9007199254740991}, {"r2", 0}}) << true;
    QTest::newRow("past it") << request.arg(R"({"r1":9007199254740992})") << Known() << false;
    QTest::newRow("negative") << request.arg(R"({"r1":-1})") << Known() << false;
    QTest::newRow("fraction") << request.arg(R"({"r1":1.5})") << Known() << false;
    QTest::newRow("eleven characters") << request.arg(R"({"abcdefghijk":1})") << Known() << false;
    QTest::newRow("fifty-one rooms") << request.arg(json(QJsonDocument(fiftyOne))) << Known() << false;
    QTest::newRow("not an object") << request.arg("[]") << Known() << false;
    QTest::newRow("another event") << uR"({"data":{"known":{}},"event":"room:changed"})"_s << Known() << false;
}

void TestProtocol::photos_data()
{
    addColumns<BroadcastPhoto>();
    QTest::addColumn<bool>("photo");
    // As the server's clock gives it: in UTC, written with a "Z".
    const QDateTime noon = QDateTime::fromString(u"2026-12-08T12:00:00.005Z"_s, Qt::ISODateWithMs);
    const BroadcastPhoto live{7, noon, u"r1"_s, u"/images/a.png"_s, u"Salut"_s, false};
    BroadcastPhoto caughtUp = live;
    caughtUp.missed = true;
    BroadcastPhoto older = NONE;
    older.image = u"/b"_s;
    const QString sent = uR"({"data":{"id":7,"image":"/images/a.png","message":"Salut",%1"room":"r1",)"
                         uR"("time":"2026-12-08T12:00:00.005Z"},"event":"photo:broadcast"})"_s;
    QTest::newRow("live") << sent.arg("") << live << true << true;
    QTest::newRow("caught up") << sent.arg(R"("missed":true,)") << caughtUp << true << true;
    QTest::newRow("from an older server")
        << uR"({"event":"photo:broadcast","data":{"image":"/b","x":1},"y":2})"_s << older << false << true;
    QTest::newRow("wrong types")
        << uR"({"data":{"id":"7","image":5,"message":[],"missed":1,"room":{},"time":0},"event":"photo:broadcast"})"_s
        << NONE << false << true;
    QTest::newRow("event in other case") << uR"({"data":{"image":"/a"},"event":"Photo:Broadcast"})"_s << NONE << false
                                         << false;
}

void TestProtocol::catchUpEnds_data()
{
    addColumns<Latest>();
    QTest::addColumn<int>("count");
    QTest::newRow("ended") << uR"({"data":{"count":3,"latest":42},"event":"photos:missed-done"})"_s << Latest(42)
                           << true << 3;
    QTest::newRow("no newest id") << uR"({"event":"photos:missed-done"})"_s << Latest(-1) << false << 0;
    QTest::newRow("another event") << uR"({"data":{"latest":42},"event":"photo:broadcast"})"_s << Latest() << false
                                   << 0;
}

QTEST_MAIN(TestProtocol)
#include "tst_protocol.moc"
