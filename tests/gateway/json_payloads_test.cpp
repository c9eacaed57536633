// The MQTT face's topics and payloads: what it publishes, written out by
// hand, and what it takes from a set topic, for every form and mistake.

#include "json_payloads.h"
#include "topic_names.h"

#include "support/qt_printers.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

namespace {

const QDateTime kAt = QDateTime::fromString(QStringLiteral("2026-12-05T10:00:00.123Z"), Qt::ISODateWithMs);
const TypedValue k42{ValueFormat::Int16, ElementKind::Word, 1, QByteArray("\x2a\x00", 2)};
const TypedValue kOnOff{ValueFormat::Bit, ElementKind::Bit, 2, QByteArray("\x01\x00", 2)};

// What the face publishes: a tag's state, a line's status and a write's result.
TEST(JsonPayloads, AsPublished)
{
    const QJsonValue none(QJsonValue::Undefined);
    const std::pair<QByteArray, const char*> rows[] = {
        {tagPayload(TagState{Quality::Good, k42, QString(), kAt}),
         R"({"quality":"good","ts":"2026-12-05T10:00:00.123Z","value":42})"},
        {tagPayload(TagState{Quality::Good, kOnOff, QString(), kAt}),
         R"({"quality":"good","ts":"2026-12-05T10:00:00.123Z","value":[true,false]})"},
        // A bad tag carries no value: the last one read is not vouched for.
        {tagPayload(TagState{Quality::Bad, k42, QStringLiteral("the PLC refused the block"), kAt}),
         R"({"error":"the PLC refused the block","quality":"bad","ts":"2026-12-05T10:00:00.123Z","value":null})"},
        {lineStatusPayload(LineStatus{true, QString(), kAt}), R"({"status":"online","ts":"2026-12-05T10:00:00.123Z"})"},
        {lineStatusPayload(LineStatus{false, QStringLiteral("line lost"), kAt}),
         R"({"reason":"line lost","status":"offline","ts":"2026-12-05T10:00:00.123Z"})"},
        {writeResultPayload(TagWriteResult{WriteOutcome::Done, QString()}, none), R"({"ok":true})"},
        {writeResultPayload(TagWriteResult{WriteOutcome::Failed, QStringLiteral("no")}, none), R"({"error":"no","ok":false})"},
        {writeResultPayload(TagWriteResult{WriteOutcome::Done, QString()}, QStringLiteral("a1")), R"({"id":"a1","ok":true})"},
    };
    for (const auto& [payload, expected] : rows)
        EXPECT_EQ(payload, QByteArray(expected));
}

struct SetRow {
    const char* name;
    QByteArray payload;
    const char* value; // JSON; empty: refused with `error`
    const char* id;    // JSON; empty: none
    const char* error;
};

const char* const kForms = "expected a JSON value such as 42, true, 3.5, \"0x00FF\" or [1, 2], or {\"value\": ..., \"id\": ...}";

const SetRow kSets[] = {
    {"Array", "[1, 2]", "[1,2]", "", ""},
    {"Spaces", "  3.5\n", "3.5", "", ""},
    {"Object", R"({"value": 7})", "7", "", ""},
    {"ObjectWithId", R"({"value": 7, "id": "a1"})", "7", "\"a1\"", ""},
    {"Empty", "", "", "", "the payload is not one JSON value; "},
    {"TwoValues", "1, 2", "", "", "the payload is not one JSON value; "},
    {"Unbalanced", "1]", "", "", "the payload is not one JSON value; "},
    {"UnknownKey", R"({"val": 7})", "", "", "unknown key \"val\" in the payload; "},
    {"NoValue", R"({"id": 7})", "", "", "the payload lacks \"value\"; "},
    {"ValueTwice", R"({"value": 5, "value": 6})", "", "", "the payload gives \"value\" twice; "},
    {"IdTwiceOnceEscaped", R"({"id": 1, "value": 5, "\u0069d": 2})", "", "", "the payload gives \"id\" twice; "},
    {"NestedKeysTwiceAreTheValues", R"({"value": [{"a": 1}, {"a": 2}], "id": {"k": "\"value\":"}})",
     "[{\"a\":1},{\"a\":2}]", "{\"k\":\"\\\"value\\\":\"}", ""},
};

class SetPayloads : public ::testing::TestWithParam<SetRow> {};

TEST_P(SetPayloads, AreReadOrRefusedWithWhatIsAccepted)
{
    const SetRow& row = GetParam();
    SetRequest request;
    QString error;
    const bool ok = parseSetPayload(row.payload, &request, &error);
    const QString expectedError = *row.error ? QLatin1String(row.error) + QLatin1String(kForms) : QString();
    EXPECT_EQ(ok, *row.value != 0);
    EXPECT_EQ(error, expectedError);
    if (!ok)
        return;
    const auto json = [](const char* text) { return QJsonDocument::fromJson(QByteArray("[") + text + "]").array().at(0); };
    EXPECT_EQ(request.value, json(row.value));
    EXPECT_EQ(request.id, *row.id ? json(row.id) : QJsonValue(QJsonValue::Undefined));
}

INSTANTIATE_TEST_SUITE_P(Rows, SetPayloads, ::testing::ValuesIn(kSets),
                         [](const ::testing::TestParamInfo<SetRow>& info) { return std::string(info.param.name); });

TEST(SetPayloads, ATooLargePayloadIsRefusedUnread)
{
    SetRequest request;
    QString error;
    EXPECT_FALSE(parseSetPayload(QByteArray(70000, '1'), &request, &error));
    EXPECT_EQ(error, QStringLiteral("the payload has 70000 bytes; a write takes at most 65536"));
}

struct SetTopicRow {
    const char* topic;
    const char* line; // empty: not a set topic
    const char* tag;
};

TEST(TopicNames, OnlyATagsSetTopicIsAWrite)
{
    const SetTopicRow rows[] = {
        {"plant1/press1/speed/set", "press1", "speed"},
        {"plant1/press1/speed", "", ""},
        {"plant1/press1/speed/set/result", "", ""},
        {"plant1/press1/set", "", ""},
        {"plant2/press1/speed/set", "", ""},
        {"plant1x/press1/speed/set", "", ""},
        {"plant1//speed/set", "", ""},
    };
    for (const SetTopicRow& row : rows) {
        QString line;
        QString tag;
        const bool isSet = parseSetTopic(QLatin1String(row.topic), QStringLiteral("plant1"), &line, &tag);
        EXPECT_EQ(isSet, *row.line != 0) << row.topic;
        EXPECT_EQ(line, QLatin1String(row.line)) << row.topic;
        EXPECT_EQ(tag, QLatin1String(row.tag)) << row.topic;
    }
}

} // namespace
