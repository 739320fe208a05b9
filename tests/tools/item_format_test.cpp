// The monitor's rows: queued-entry detection and the escaping of what the
// driver delivers, in table rows and JSON.
#include <gtest/gtest.h>

#include <cstring>

#include "monitor/item_format.h"

namespace zentrok::monitor {
namespace {

void SetCode(QenMsg& msg, const char* code) {
    msg.Code.Length = static_cast<std::uint8_t>(std::strlen(code));
    std::memcpy(msg.Code.Chars, code, msg.Code.Length);
}

void SetText(QenMsg& msg, const char* text) {
    msg.Text.Length = static_cast<std::uint8_t>(std::strlen(text));
    std::memcpy(msg.Text.Chars, text, msg.Text.Length);
}

// What qen_GetMsg writes for a message: everything but padding and Note.
QenMsg Message() {
    QenMsg msg;
    FillSentinel(msg);
    msg.Number = 7;
    msg.Channel = 1;
    msg.Ident = 0x2A4F;
    SetCode(msg, "12");
    SetText(msg, " HALL A");
    msg.Stamp = QenSystemTime{2024, 2, 3, 28, 14, 5, 9, 0};
    return msg;
}

// What it writes for a queued entry: channel, ident, code and text only.
QenMsg QueuedEntry() {
    QenMsg msg;
    FillSentinel(msg);
    msg.Channel = 1;
    msg.Ident = 0x2A4F;
    SetCode(msg, "03");
    SetText(msg, "   GATE");
    return msg;
}

TEST(ItemFormatTest, QueuedEntryIsTheOneThatLeavesNumberAndStampAlone) {
    EXPECT_FALSE(IsQueuedEntry(Message()));
    EXPECT_TRUE(IsQueuedEntry(QueuedEntry()));

    QenMsg numberOnly = QueuedEntry();
    numberOnly.Number = 0;
    EXPECT_FALSE(IsQueuedEntry(numberOnly));
    QenMsg noStamp = Message();
    noStamp.Stamp.wYear = QEN_NO_STAMP;  // a message without time still writes Stamp
    EXPECT_FALSE(IsQueuedEntry(noStamp));
}

TEST(ItemFormatTest, RowsOfAMessageAndItsQueuedEntry) {
    EXPECT_EQ(TextRow(1, Message()), "    1       7   1  00002A4F  \"12\"  \" HALL A\"  2024-02-28 14:05:09  no");
    EXPECT_EQ(TextRow(2, QueuedEntry()), "    2       -   1  00002A4F  \"03\"  \"   GATE\"  -                    yes");
    EXPECT_EQ(JsonRow(1, Message()),
              R"({"item":1,"number":7,"channel":1,"ident":"00002A4F","code":"12","text":" HALL A",)"
              R"("stamp":"2024-02-28 14:05:09","queued":false})");
    EXPECT_EQ(JsonRow(2, QueuedEntry()),
              R"({"item":2,"number":null,"channel":1,"ident":"00002A4F","code":"03","text":"   GATE",)"
              R"("stamp":null,"queued":true})");
}

TEST(ItemFormatTest, NoStampShowsAsDashWhateverTheOtherWordsHold) {
    QenMsg msg = Message();
    msg.Stamp.wYear = QEN_NO_STAMP;
    EXPECT_NE(TextRow(1, msg).find("\"  -  "), std::string::npos) << TextRow(1, msg);
    EXPECT_NE(JsonRow(1, msg).find(R"("stamp":null)"), std::string::npos);
}

TEST(ItemFormatTest, EmptyMessageAndFullIdent) {
    QenMsg msg = Message();
    msg.Number = -9;
    msg.Ident = -1;
    SetCode(msg, "");
    SetText(msg, "");
    const std::string json = JsonRow(3, msg);
    EXPECT_EQ(json.find(R"({"item":3,"number":-9,"channel":1,"ident":"FFFFFFFF","code":"","text":"",)"), 0u) << json;
}

TEST(ItemFormatTest, BytesOutsidePrintableAsciiAreEscaped) {
    QenMsg msg = Message();
    SetCode(msg, "\"\\");
    SetText(msg, "a\x14\xE9z\x7F");
    const std::string row = TextRow(1, msg);
    EXPECT_NE(row.find(R"("\"\\")"), std::string::npos) << row;
    EXPECT_NE(row.find(R"("a\x14\xE9z\x7F")"), std::string::npos) << row;
    const std::string json = JsonRow(1, msg);
    EXPECT_NE(json.find(R"("code":"\"\\")"), std::string::npos) << json;
    EXPECT_NE(json.find(R"("text":"a\u0014\u00E9z\u007F")"), std::string::npos) << json;
}

TEST(ItemFormatTest, LengthBytesBeyondTheCapacityAreCut) {
    QenMsg msg = Message();
    msg.Code.Length = 200;
    msg.Text.Length = 8;
    EXPECT_NE(JsonRow(1, msg).find(R"("code":"12","text":" HALL A")"), std::string::npos) << JsonRow(1, msg);
}

}  // namespace
}  // namespace zentrok::monitor
