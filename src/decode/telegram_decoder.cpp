#include "decode/telegram_decoder.h"

#include <cstring>
#include <iterator>
#include <string_view>
#include <utility>

#include "decode/conversions.h"
#include "decode/entry_parser.h"
#include "decode/fixed_layout.h"

namespace zentrok {
namespace {

using layout::MsgField;
using layout::Placement;
using layout::TelegramField;

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
    const bool dateOk = t.wYear >= 1 && t.wYear <= 9999 && t.wMonth >= 1 && t.wMonth <= 12;
    return timeOk && dateOk && t.wDay >= 1 && t.wDay <= DaysInMonth(t.wYear, t.wMonth);
}

// Reads the time stamp of a 34-character telegram into state.Msg.Stamp.
// Returns whether it is a valid time and date of the current UTC year;
// otherwise Stamp.wYear is left as kNoStamp.
bool ParseStamp(DecoderState& state, DecodeContext& context) {
    QenSystemTime& stamp = state.Msg.Stamp;
    const std::size_t colon = context.Telegram.Find(':');
    if (colon <= layout::kHourBeforeColon) {
        stamp.wYear = kNoStamp;
        return false;
    }
    const std::size_t hour = colon - layout::kHourBeforeColon;
    stamp = context.Clock();  // year, day of week and milliseconds come from the clock
    for (const layout::StampField& field : layout::kStampFields) {
        CopyField(context, hour + field.Offset, 2);
        stamp.*field.Word = static_cast<std::uint16_t>(DecValue(context.Work.View()));
    }
    if (!IsValidStamp(stamp)) stamp.wYear = kNoStamp;
    return stamp.wYear != kNoStamp;
}

// A field of a telegram that reaches at least to the field's end.
std::string_view FieldOf(const DecodeContext& context, TelegramField field) {
    return {context.Telegram.Chars + field.Pos - 1, field.Count};
}

// Number (as it stands) and Channel. The channel is one hexadecimal digit,
// so it always indexes the channel memory.
void DecodeNumberAndChannel(DecoderState& state, const DecodeContext& context) {
    state.Msg.Channel = static_cast<std::uint16_t>(HexValue(FieldOf(context, layout::kChannel)));
    state.Msg.Number = DecValue(FieldOf(context, layout::kNumber));
}

// A telegram of type "1", "5" or "S" ends the registration of its channel.
void ForgetRegistration(DecoderState& state) { state.ChannelIdents[state.Msg.Channel] = 0; }

// Copies the telegram characters of one placement into Code or Text. The
// telegram has at least the plain length, and every placement lies within
// it (checked where the layouts are defined).
void PlaceOne(QenMsg& msg, const char* telegram, const Placement& p) {
    char* chars = p.Into == MsgField::Code ? msg.Code.Chars : msg.Text.Chars;
    std::memcpy(chars + p.IntoPos - 1, telegram + p.From.Pos - 1, p.From.Count);
}

// Copies every placement of a table. The table is a template argument and
// is expanded placement by placement, so that each copy has fixed positions
// and a fixed size.
template <const auto& Placements, std::size_t... I>
void PlaceEach(QenMsg& msg, const char* telegram, std::index_sequence<I...>) {
    (PlaceOne(msg, telegram, Placements[I]), ...);
}

template <const auto& Placements>
void Place(QenMsg& msg, const DecodeContext& context) {
    PlaceEach<Placements>(msg, context.Telegram.Chars, std::make_index_sequence<std::size(Placements)>{});
}

// Number, Channel and Ident of a fixed telegram; Code and Text blank.
// Inline, so that each type reads its Ident with a fixed position and size.
inline void DecodeFixedHeader(DecoderState& state, DecodeContext& context, TelegramField ident) {
    DecodeNumberAndChannel(state, context);
    CopyField(context, ident.Pos, ident.Count);
    state.Msg.Ident = HexValue(context.Work.View());
    BlankCode(state.Msg);
    BlankText(state.Msg);
}

bool DecodeType1(DecoderState& state, DecodeContext& context) {
    DecodeFixedHeader(state, context, layout::kType1Ident);
    ForgetRegistration(state);
    Place<layout::kType1Fields>(state.Msg, context);
    return true;
}

bool DecodeType5(DecoderState& state, DecodeContext& context) {
    DecodeFixedHeader(state, context, layout::kType5Ident);
    ForgetRegistration(state);
    Place<layout::kType5Fields>(state.Msg, context);
    if (state.Msg.Ident != 0) Place<layout::kType5Code>(state.Msg, context);
    return true;
}

// Type "3": Code starts from the channel's registered code when the Ident
// is the registered one; another Ident ends the registration. A
// registration itself gives no message.
bool DecodeType3(DecoderState& state, DecodeContext& context) {
    DecodeFixedHeader(state, context, layout::kType3Ident);
    QenMsg& msg = state.Msg;
    std::int32_t& registeredIdent = state.ChannelIdents[msg.Channel];
    ShortString<2>& registeredCode = state.ChannelCodes[msg.Channel];
    if (registeredIdent == msg.Ident) {
        msg.Code.Length = registeredCode.Length;
        std::memcpy(msg.Code.Chars, registeredCode.Chars, sizeof msg.Code.Chars);
    } else {
        registeredIdent = 0;
    }

    const std::string_view variant = FieldOf(context, layout::kType3Variant);
    const bool registration = variant == layout::kRegistrationMark;
    if (registration) {
        registeredIdent = msg.Ident;
        registeredCode.Assign(FieldOf(context, layout::kRegisteredCode));
    } else if (variant[0] == layout::kMarkedVariant) {
        Place<layout::kType3MarkedFields>(msg, context);
    } else {
        Place<layout::kType3Fields>(msg, context);
    }
    return !registration;
}

// Types "1", "3" and "5": 20 characters, or 34 with a time stamp; other
// lengths and invalid stamps give no message.
void DecodeFixed(DecoderState& state, DecodeContext& context, char type) {
    const std::size_t length = context.Telegram.Length;
    if (length == layout::kStampedLength) {
        if (!ParseStamp(state, context)) return;
    } else if (length != layout::kPlainLength) {
        return;
    }
    switch (type) {
        case '1': context.Produced = DecodeType1(state, context); break;
        case '5': context.Produced = DecodeType5(state, context); break;
        default: context.Produced = DecodeType3(state, context); break;
    }
}

// The run of digits and capital letters A-F after the first "#" of a type
// "S" header, up to but never including the header's last character.
std::size_t IdentRunEnd(const ShortString<255>& telegram, std::size_t hash) {
    std::size_t end = hash + 1;
    while (end < telegram.Length && IsUpperHexDigit(telegram.At(end))) ++end;
    return end;
}

// No entry qualified: a placeholder message.
void PlaceholderMessage(QenMsg& msg) {
    msg.Channel = 0;
    msg.Ident = 0;
    msg.Code.Length = 2;
    std::memset(msg.Code.Chars, '.', sizeof msg.Code.Chars);
    msg.Text.Length = 7;
    std::memset(msg.Text.Chars, '.', sizeof msg.Text.Chars);
}

// Type "S": a header "S<number><channel>...#<ident><sep>", entries, "]".
void DecodeMultiEntry(DecoderState& state, DecodeContext& context) {
    ShortString<255>& telegram = context.Telegram;
    const std::size_t bracket = telegram.Find(']');
    if (bracket < layout::kMinBracketPos) return;
    telegram.Truncate(bracket - 1);

    DecodeNumberAndChannel(state, context);
    ForgetRegistration(state);
    const std::size_t hash = telegram.Find('#');
    const std::size_t end = IdentRunEnd(telegram, hash);
    state.Msg.Ident = HexValue(telegram.View().substr(hash, end - hash - 1));
    telegram.DeleteFront(end);  // header, run and the character that ended it

    context.EntryCode.Fill(' ', 2);
    while (!telegram.Empty()) ParseEntry(state, context);
    if (!context.Produced) PlaceholderMessage(state.Msg);
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

bool DecodeTelegram(DecoderState& state, DecodeContext& context, const SendAckFn& sendAck) {
    state.GroupIdent = -1;
    state.GroupPlaced = false;
    state.GroupKind = ' ';
    state.GroupCode.Length = 0;
    state.Pending.Clear();
    context.Produced = false;
    state.Msg.Stamp.wYear = kNoStamp;

    switch (const char type = context.Telegram.At(1)) {
        case '0': sendAck(); break;  // the first of its two ACKs: see HandOverTelegram
        case '1':
        case '3':
        case '5': DecodeFixed(state, context, type); break;
        case 'S': DecodeMultiEntry(state, context); break;
        default: DecodeOther(state, context); break;
    }
    return context.Produced;
}

}  // namespace zentrok
