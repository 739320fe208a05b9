// Where the fields of a telegram stand: 1-based character positions, as the
// telegram layouts are written, and where they land in the message. The
// decoder reads every position from here; the README's field table lists
// the same positions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "zentrok.h"

namespace zentrok::layout {

// `Count` characters of the telegram from position `Pos` on.
struct TelegramField {
    std::uint8_t Pos;
    std::uint8_t Count;
};

// Number and Channel open every telegram type that has them: "1", "3",
// "5" and "S".
inline constexpr TelegramField kNumber{2, 2};
inline constexpr TelegramField kChannel{4, 1};

// The fixed telegrams (types "1", "3", "5") come in two lengths; the longer
// one ends in a 14-character time stamp.
inline constexpr std::size_t kPlainLength = 20;
inline constexpr std::size_t kStampedLength = 34;

enum class MsgField : std::uint8_t { Code, Text };

// Telegram characters copied as they stand into Code or Text, from
// position `IntoPos` of that field on. Code and Text start as blanks.
struct Placement {
    TelegramField From;
    MsgField Into;
    std::uint8_t IntoPos;
};

// Type "1": Ident from 9-14; Text 4 from 16, Code 2 from 17, Text 5-7 from
// 18-20.
inline constexpr TelegramField kType1Ident{9, 6};
inline constexpr Placement kType1Fields[] = {
    {{16, 1}, MsgField::Text, 4},
    {{17, 1}, MsgField::Code, 2},
    {{18, 3}, MsgField::Text, 5},
};

// Type "5": Ident from 8-11; Text 1-4 from 12-15 and Text 5-7 from 18-20;
// Code 1-2 from 16-17 only when the Ident is not 0.
inline constexpr TelegramField kType5Ident{8, 4};
inline constexpr Placement kType5Fields[] = {
    {{12, 4}, MsgField::Text, 1},
    {{18, 3}, MsgField::Text, 5},
};
inline constexpr Placement kType5Code[] = {{{16, 2}, MsgField::Code, 1}};

// Type "3": Ident from 9-14; positions 15-16 tell its variant. "ri"
// registers the code at 19-20 for the channel and the Ident, and gives no
// message. A lone "r" at 15 takes Code 2 from 16 and Text 3-4 from 17-18;
// anything else gives Text 3-4 from 15-16. Both give Text 6-7 from 19-20,
// and Code starts from the code registered on the channel.
inline constexpr TelegramField kType3Ident{9, 6};
inline constexpr TelegramField kType3Variant{15, 2};
inline constexpr std::string_view kRegistrationMark = "ri";
inline constexpr char kMarkedVariant = 'r';
inline constexpr TelegramField kRegisteredCode{19, 2};
inline constexpr Placement kType3Fields[] = {
    {{15, 2}, MsgField::Text, 3},
    {{19, 2}, MsgField::Text, 6},
};
inline constexpr Placement kType3MarkedFields[] = {
    {{16, 1}, MsgField::Code, 2},
    {{17, 2}, MsgField::Text, 3},
    {{19, 2}, MsgField::Text, 6},
};

// The time stamp "hh:mm?ss?DD?MM" is found from the first ":" of the
// telegram, which follows the two characters of the hour: in a well-formed
// stamp (positions 21-34) it stands at 23. Each field is two characters at
// `Offset` from the hour's first one, read into one word of the stamp. The
// year is not transmitted.
inline constexpr std::size_t kHourBeforeColon = 2;

struct StampField {
    std::uint8_t Offset;
    std::uint16_t QenSystemTime::*Word;
};

inline constexpr StampField kStampFields[] = {
    {0, &QenSystemTime::wHour}, {3, &QenSystemTime::wMinute}, {6, &QenSystemTime::wSecond},
    {9, &QenSystemTime::wDay},  {12, &QenSystemTime::wMonth},
};

// Type "S": the entries follow the header up to the first "]", which must
// stand at this position or later.
inline constexpr std::size_t kMinBracketPos = 6;

// The field lies within the first `size` positions.
constexpr bool Within(TelegramField field, std::size_t size) {
    return field.Pos >= 1 && std::size_t{field.Pos} - 1 + field.Count <= size;
}

// Every placement lies inside the plain telegram and inside the field it
// writes.
template <std::size_t N>
constexpr bool Fits(const Placement (&placements)[N]) {
    for (const Placement& p : placements) {
        const std::size_t size = p.Into == MsgField::Code ? sizeof QenCode{}.Chars : sizeof QenText{}.Chars;
        if (!Within(p.From, kPlainLength) || !Within({p.IntoPos, p.From.Count}, size)) return false;
    }
    return true;
}
static_assert(Fits(kType1Fields) && Fits(kType5Fields) && Fits(kType5Code));
static_assert(Fits(kType3Fields) && Fits(kType3MarkedFields));
static_assert(Within(kType1Ident, kPlainLength) && Within(kType3Ident, kPlainLength) &&
              Within(kType5Ident, kPlainLength) && Within(kType3Variant, kPlainLength) &&
              Within(kRegisteredCode, kPlainLength));

}  // namespace zentrok::layout
