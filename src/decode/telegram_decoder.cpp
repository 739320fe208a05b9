#include "decode/telegram_decoder.h"

#include <cstring>
#include <string_view>

#include "decode/conversions.h"
#include "decode/entry_parser.h"

namespace zentrok {
namespace {

constexpr std::size_t kPlainLength = 20;    // types "1", "3", "5" without a time stamp
constexpr std::size_t kStampedLength = 34;  // with a 14-character time stamp
constexpr std::size_t kMinBracketPos = 6;   // earliest "]" of a type "S" telegram

void BlankCode(QenMsg& msg) {
    msg.Code.Length = 2;
    std::memset(msg.Code.Chars, ' ', sizeof msg.Code.Chars);
}

void BlankText(QenMsg& msg) {
    msg.Text.Length = 7;
    std::memset(msg.Text.Chars, ' ', sizeof msg.Text.Chars);
}

bool IsUpperHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

bool IsLeapYear(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned DaysInMonth(unsigned year, unsigned month) {
    static constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsValidStamp(const QenSystemTime& t) {
    const bool timeOk = t.wHour < 24 && t.wMinute < 60 && t.wSecond < 60;
    const bool dateOk = t.wYear >= 1 && t.wYear <= 9999 && t.wMonth >= 1 && t.wMonth <= 12 &&
                        t.wDay >= 1 && t.wDay <= DaysInMonth(t.wYear, t.wMonth);
    return timeOk && dateOk;
}

// One two-character stamp field starting at `pos`.
std::uint16_t StampField(DecodeContext& context, std::size_t pos) {
    CopyField(context, pos, 2);
    return static_cast<std::uint16_t>(DecValue(context.Work.View()));
}

// Number (positions 2-3, as they stand) and Channel (position 4). The
// channel is one hexadecimal digit, so it always indexes the channel memory.
void DecodeNumberAndChannel(DecoderState& state, const DecodeContext& context) {
    const std::string_view telegram = context.Telegram.View();
    state.Msg.Channel = static_cast<std::uint16_t>(HexValue(telegram.substr(3, 1)));
    state.Msg.Number = DecValue(telegram.substr(1, 2));
}

// Types "1", "3" and "5": 20 characters, or 34 with a time stamp.
void DecodeFixed(DecoderState& state, DecodeContext& context, char type) {
    const std::size_t length = context.Telegram.Length;
    if (length == kStampedLength) {
        if (!ParseStamp(state, context)) return;
    } else if (length != kPlainLength) {
        return;
    }

    QenMsg& msg = state.Msg;
    DecodeNumberAndChannel(state, context);
    if (type != '3') state.ChannelIdents[msg.Channel] = 0;
    if (type == '5')
        CopyField(context, 8, 4);
    else
        CopyField(context, 9, 6);
    msg.Ident = HexValue(context.Work.View());

    auto at = [&context](std::size_t pos) { return context.Telegram.At(pos); };
    BlankCode(msg);
    BlankText(msg);
    switch (type) {
        case '1':
            msg.Code.Chars[1] = at(17);
            msg.Text.Chars[3] = at(16);
            msg.Text.Chars[4] = at(18);
            msg.Text.Chars[5] = at(19);
            msg.Text.Chars[6] = at(20);
            break;
        case '5':
            if (msg.Ident != 0) {
                msg.Code.Chars[0] = at(16);
                msg.Code.Chars[1] = at(17);
            }
            for (int i = 0; i < 4; ++i) msg.Text.Chars[i] = at(12 + i);
            msg.Text.Chars[4] = at(18);
            msg.Text.Chars[5] = at(19);
            msg.Text.Chars[6] = at(20);
            break;
        default: {  // '3'
            std::int32_t& registeredIdent = state.ChannelIdents[msg.Channel];
            ShortString<2>& registeredCode = state.ChannelCodes[msg.Channel];
            if (registeredIdent == msg.Ident) {
                msg.Code.Length = registeredCode.Length;
                std::memcpy(msg.Code.Chars, registeredCode.Chars, sizeof msg.Code.Chars);
            } else {
                registeredIdent = 0;
            }
            if (at(15) == 'r' && at(16) == 'i') {  // registration: nothing for the host
                registeredIdent = msg.Ident;
                const char code[2] = {at(19), at(20)};
                registeredCode.Assign({code, 2});
                return;
            }
            const bool rVariant = at(15) == 'r';
            if (rVariant) msg.Code.Chars[1] = at(16);
            msg.Text.Chars[2] = at(rVariant ? 17 : 15);
            msg.Text.Chars[3] = at(rVariant ? 18 : 16);
            msg.Text.Chars[5] = at(19);
            msg.Text.Chars[6] = at(20);
            break;
        }
    }
    context.Produced = true;
}

// Type "S": a header "S<number><channel>...#<ident><sep>", entries, "]".
void DecodeMultiEntry(DecoderState& state, DecodeContext& context) {
    ShortString<255>& telegram = context.Telegram;
    const std::size_t bracket = telegram.Find(']');
    if (bracket < kMinBracketPos) return;
    telegram.Truncate(bracket - 1);

    QenMsg& msg = state.Msg;
    DecodeNumberAndChannel(state, context);
    state.ChannelIdents[msg.Channel] = 0;

    const std::size_t hash = telegram.Find('#');
    std::size_t end = hash + 1;  // the run never takes the last character
    while (end < telegram.Length && IsUpperHexDigit(telegram.At(end))) ++end;
    msg.Ident = HexValue(telegram.View().substr(hash, end - hash - 1));
    telegram.DeleteFront(end);  // header, run and the character that ended it

    context.EntryCode.Fill(' ', 2);
    while (!telegram.Empty()) ParseEntry(state, context);
    if (context.Produced) return;

    // No entry qualified: a placeholder message.
    msg.Channel = 0;
    msg.Ident = 0;
    msg.Code.Length = 2;
    std::memset(msg.Code.Chars, '.', sizeof msg.Code.Chars);
    msg.Text.Length = 7;
    std::memset(msg.Text.Chars, '.', sizeof msg.Text.Chars);
    context.Produced = true;
}

// Any other type character: an empty message.
void DecodeOther(DecoderState& state, DecodeContext& context) {
    QenMsg& msg = state.Msg;
    msg.Number = 0;
    msg.Channel = 0;
    msg.Ident = 0;
    msg.Code.Length = 0;
    msg.Text.Length = 0;
    context.Produced = true;
}

}  // namespace

void CopyField(DecodeContext& context, std::size_t pos, std::size_t count) {
    ShortString<255>& work = context.Work;
    work.Length = static_cast<std::uint8_t>(count);
    for (std::size_t i = 0; i < count; ++i) work.Chars[i] = context.Telegram.At(pos + i);
    std::size_t blanks = 0;
    while (blanks < count && work.Chars[blanks] == ' ') ++blanks;
    work.DeleteFront(blanks);
}

bool ParseStamp(DecoderState& state, DecodeContext& context) {
    QenSystemTime& stamp = state.Msg.Stamp;
    const std::size_t colon = context.Telegram.Find(':');
    if (colon <= 2) {
        stamp.wYear = kNoStamp;
        return false;
    }
    const std::size_t start = colon - 2;
    stamp = context.Clock();  // year, day of week and milliseconds come from the clock
    stamp.wHour = StampField(context, start);
    stamp.wMinute = StampField(context, start + 3);
    stamp.wSecond = StampField(context, start + 6);
    stamp.wDay = StampField(context, start + 9);
    stamp.wMonth = StampField(context, start + 12);
    if (!IsValidStamp(stamp)) stamp.wYear = kNoStamp;
    return stamp.wYear != kNoStamp;
}

bool DecodeTelegram(DecoderState& state, DecodeContext& context, const SendAckFn& sendAck) {
    state.GroupIdent = -1;
    state.GroupPlaced = false;
    state.GroupKind = ' ';
    state.GroupCode.Length = 0;
    state.Pending.Clear();
    context.Produced = false;
    state.Msg.Stamp.wYear = kNoStamp;

    switch (const char type = context.Telegram.At(1)) {
        case '0':
            sendAck();
            break;
        case '1':
        case '3':
        case '5':
            DecodeFixed(state, context, type);
            break;
        case 'S':
            DecodeMultiEntry(state, context);
            break;
        default:
            DecodeOther(state, context);
            break;
    }
    return context.Produced;
}

}  // namespace zentrok
