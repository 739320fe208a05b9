#include "soak_telegrams.h"

#include <cstdio>

namespace zentrok::test {
namespace {

constexpr std::int32_t kIdentBase = 0x100000;  // six hexadecimal digits, never 0

std::int32_t IdentOf(std::int64_t seq) { return static_cast<std::int32_t>(kIdentBase + seq); }

std::string Format(const char* format, int width, long long value) {
    char text[32];
    std::snprintf(text, sizeof text, format, width, value);
    return text;
}

std::string Two(int value) { return Format("%0*lld", 2, value); }
std::string Hex(std::int64_t value, int width = 0) { return Format("%0*llX", width, value); }
std::string Decimal7(std::int64_t seq) { return Format("%0*lld", 7, seq % 10000000); }

// Lower-case letters spelling `value` in base 26, lowest digit first.
std::string Letters(std::int64_t value, int count) {
    std::string letters;
    for (int i = 0; i < count; ++i, value /= 26) letters += static_cast<char>('a' + value % 26);
    return letters;
}

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string RightAligned(const std::string& text, std::size_t width) {
    return std::string(width - text.size(), ' ') + text;
}

// Positions 2-3: the number, also with a leading blank.
std::string NumberField(std::int64_t seq, bool blankFirst, std::int32_t& number) {
    number = static_cast<std::int32_t>(seq % 100);
    return number < 10 && blankFirst ? " " + std::to_string(number) : Two(number);
}

}  // namespace

SoakTelegram SoakScript::Next() {
    if (planned_.empty()) Plan();
    SoakTelegram next = std::move(planned_.front());
    planned_.pop_front();
    return next;
}

void SoakScript::Plan() {
    const int roll = Between(1, 100);
    if (roll <= 14) return planned_.push_back(Fixed1(false));
    if (roll <= 21) return planned_.push_back(Fixed1(true));
    if (roll <= 30) return planned_.push_back(Fixed5(false));
    if (roll <= 34) return planned_.push_back(Fixed5(true));
    const int channel = static_cast<int>(seq_ % 16);
    if (roll <= 41) return planned_.push_back(Fixed3("type3", false, false, channel, nullptr));
    if (roll <= 44) return planned_.push_back(Fixed3("type3_r", true, false, channel, nullptr));
    if (roll <= 47) return planned_.push_back(Fixed3("type3_stamp", Chance(0.5), true, channel, nullptr));
    if (roll <= 54) return RegistrationAndUse();
    if (roll <= 59) return planned_.push_back(AckOnly());
    if (roll <= 68) return planned_.push_back(Rejected());
    if (roll <= 88) return planned_.push_back(MultiEntry(Between(1, 8), true));
    if (roll <= 90) return planned_.push_back(MultiEntry(15, false));
    if (roll <= 93) return planned_.push_back(NoQualifyingEntry());
    planned_.push_back(OtherType());
}

SoakTelegram SoakScript::Start(std::string kind) {
    SoakTelegram telegram;
    telegram.Seq = seq_++;
    telegram.Kind = std::move(kind);
    return telegram;
}

char SoakScript::ChannelDigit(int value) {
    const char* digits = Chance(0.3) ? "0123456789abcdef" : "0123456789ABCDEF";
    return digits[value];
}

// "hh:mm?ss?DD?MM" with separators of any kind; a valid time and date, or
// one that is impossible in any year.
std::string SoakScript::Stamp(QenSystemTime& fields, bool valid) {
    int hour = Between(0, 23), minute = Between(0, 59), second = Between(0, 59);
    int day = Between(1, 28), month = Between(1, 12);
    if (!valid) {
        switch (Between(0, 5)) {
            case 0: hour = Between(24, 99); break;
            case 1: minute = Between(60, 99); break;
            case 2: second = Between(60, 99); break;
            case 3: day = 0; break;
            case 4: month = Between(13, 99); break;
            default:
                day = 31;
                month = 4;
                break;
        }
    }
    fields.wHour = static_cast<std::uint16_t>(hour);
    fields.wMinute = static_cast<std::uint16_t>(minute);
    fields.wSecond = static_cast<std::uint16_t>(second);
    fields.wDay = static_cast<std::uint16_t>(day);
    fields.wMonth = static_cast<std::uint16_t>(month);
    static constexpr char kSeparators[] = ":/.- ";
    const auto separator = [this] { return kSeparators[Between(0, 4)]; };
    return Two(hour) + ":" + Two(minute) + separator() + Two(second) + separator() + Two(day) + separator() +
           Two(month);
}

SoakTelegram SoakScript::Fixed1(bool stamped) {
    SoakTelegram t = Start(stamped ? "type1_stamp" : "type1");
    ExpectedItem item;
    const std::string number = NumberField(t.Seq, Chance(0.3), item.Number);
    item.Channel = static_cast<std::uint16_t>(t.Seq % 16);
    item.Ident = IdentOf(t.Seq);
    std::string letters = Letters(t.Seq, 4);
    if (Chance(0.02)) letters[Between(0, 3)] = '@';  // not logged, otherwise as any other
    const char code = "abcXYZ09-"[Between(0, 8)];
    t.Text = "1" + number + ChannelDigit(item.Channel) + "-+*=" + Hex(item.Ident, 6) + "_" + letters[0] + code +
             letters.substr(1);
    item.Code = std::string(" ") + code;
    item.Text = "   " + Upper(letters);
    if (stamped) {
        t.Text += Stamp(item.Stamp, true);
        item.HasStamp = true;
    }
    t.Items.push_back(item);
    return t;
}

SoakTelegram SoakScript::Fixed5(bool stamped) {
    SoakTelegram t = Start(stamped ? "type5_stamp" : "type5");
    ExpectedItem item;
    const std::string number = NumberField(t.Seq, Chance(0.3), item.Number);
    item.Channel = static_cast<std::uint16_t>(t.Seq % 16);
    item.Ident = IdentOf(t.Seq) & 0xFFFF;  // 0 now and then: no code then
    const std::string digits = Decimal7(t.Seq);
    const std::string code = Letters(t.Seq / 7, 1) + "0123456789"[t.Seq % 10];
    t.Text = "5" + number + ChannelDigit(item.Channel) + "..." + Hex(item.Ident, 4) + digits.substr(0, 4) + code +
             digits.substr(4);
    item.Code = item.Ident != 0 ? code : "  ";
    item.Text = digits;
    if (stamped) {
        t.Text += Stamp(item.Stamp, true);
        item.HasStamp = true;
    }
    t.Items.push_back(item);
    return t;
}

SoakTelegram SoakScript::Fixed3(const std::string& kind, bool rVariant, bool stamped, int channel,
                                const std::string* registeredCode) {
    SoakTelegram t = Start(kind);
    ExpectedItem item;
    const std::string number = NumberField(t.Seq, Chance(0.3), item.Number);
    item.Channel = static_cast<std::uint16_t>(channel);
    item.Ident = IdentOf(t.Seq);
    // Positions 15-16 are never "ri", and start with "r" only in the r variant.
    const std::string at15 = rVariant ? std::string("r") + "abcdefghjk"[Between(0, 9)]
                                      : std::string(1, "abcdefghjkmnopqstuvwxyzXY"[Between(0, 24)]) + Letters(t.Seq, 1);
    const std::string at17 = Letters(t.Seq / 3, 2);
    const std::string at19 = Letters(t.Seq / 5, 2);
    t.Text = "3" + number + ChannelDigit(channel) + "...." + Hex(item.Ident, 6) + at15 + at17 + at19;
    item.Code = registeredCode ? *registeredCode : "  ";
    if (rVariant) item.Code[1] = at15[1];
    item.Text = "  " + Upper(rVariant ? at17 : at15) + " " + Upper(at19);
    if (stamped) {
        t.Text += Stamp(item.Stamp, true);
        item.HasStamp = true;
    }
    t.Items.push_back(item);
    return t;
}

// A type "3" registration of a code for the ident of the telegram after it,
// which uses the code on the same channel.
void SoakScript::RegistrationAndUse() {
    SoakTelegram registration = Start("registration");
    std::int32_t number = 0;
    const int channel = Between(0, 15);
    const std::string code = Letters(registration.Seq, 1) + "0123456789"[Between(0, 9)];
    registration.Text = "3" + NumberField(registration.Seq, false, number) + ChannelDigit(channel) + "...." +
                        Hex(IdentOf(registration.Seq + 1), 6) + "rixx" + code;
    if (Chance(0.3)) {
        QenSystemTime ignored{};
        registration.Text += Stamp(ignored, true);
    }
    planned_.push_back(registration);
    planned_.push_back(Fixed3("registered_use", Chance(0.3), Chance(0.2), channel, &code));
}

SoakTelegram SoakScript::AckOnly() {
    SoakTelegram t = Start("type0");
    t.Text = "0" + Decimal7(t.Seq) + Letters(t.Seq, 3);
    t.Acks = 2;
    return t;
}

SoakTelegram SoakScript::Rejected() {
    SoakTelegram t;
    switch (Between(0, 5)) {
        case 0:
            t = Chance(0.5) ? Fixed1(false) : Fixed5(false);
            t.Text += 'x';  // 21 characters
            break;
        case 1:
            t = Fixed1(true);
            t.Text.pop_back();  // 33 characters
            break;
        case 2: {
            t = Fixed5(false);
            QenSystemTime ignored{};
            t.Text += Stamp(ignored, false);
            break;
        }
        case 3:
            t = Fixed3("", false, false, static_cast<int>(seq_ % 16), nullptr);
            t.Text += "14-05-09/28/02";  // 34 characters without a ":"
            break;
        case 4:
            t = MultiEntry(2, false);
            t.Text.erase(t.Text.find(']'));
            break;
        default:
            t = MultiEntry(1, false);
            t.Text.insert(2, "]");  // before position 6
            break;
    }
    t.Kind = "rejected";
    t.Items.clear();
    return t;
}

SoakTelegram SoakScript::MultiEntry(int entries, bool skips) {
    SoakTelegram t = Start(entries > 8 ? "multi_entry_long" : "multi_entry");
    std::int32_t number = 0;
    const std::string numberField = NumberField(t.Seq, Chance(0.3), number);
    const auto channel = static_cast<std::uint16_t>(t.Seq % 16);
    const std::int32_t ident = IdentOf(t.Seq);
    t.Text = "S" + numberField + ChannelDigit(channel) + " #" + Hex(ident) + "/";
    for (int k = 0; k < entries; ++k) {
        if (skips && Chance(0.2)) t.Text += "Nda" + std::to_string(Between(0, 9)) + "/x/";  // skipped
        const std::size_t length = Chance(0.05) ? 0 : static_cast<std::size_t>(Between(3, 7));
        std::string text = (Letters(t.Seq, 5) + static_cast<char>('a' + k) + "q").substr(0, length);
        if (text.size() > 2 && Chance(0.05)) text[1] = ' ';
        const std::string code = Two(10 + k);
        t.Text += "Eri" + code + "/" + text + "/";

        ExpectedItem item;
        item.IsMessage = k == 0;
        item.Number = number;
        item.Channel = channel;
        item.Ident = ident;
        item.Code = code;
        item.Text = RightAligned(Upper(text), 7);
        t.Items.push_back(item);
    }
    t.Text += "]";
    if (Chance(0.2)) t.Text += "after/Eri99/ignored";
    return t;
}

SoakTelegram SoakScript::NoQualifyingEntry() {
    SoakTelegram t = Start("multi_entry_placeholder");
    ExpectedItem item;
    t.Text = "S" + NumberField(t.Seq, false, item.Number) + ChannelDigit(static_cast<int>(t.Seq % 16)) + "#" +
             Hex(IdentOf(t.Seq)) + "/Nda01/x/Eti02/y]";
    item.Code = "..";
    item.Text = ".......";
    t.Items.push_back(item);
    return t;
}

SoakTelegram SoakScript::OtherType() {
    SoakTelegram t = Start("other_type");
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 -+/.";
    t.Text = std::string(1, "Xs9#~A&zq"[Between(0, 8)]) + Decimal7(t.Seq);
    for (int i = Between(0, 40); i > 0; --i) t.Text += kAlphabet[Between(0, sizeof kAlphabet - 2)];
    if (Chance(0.2)) t.Text.insert(static_cast<std::size_t>(Between(1, static_cast<int>(t.Text.size()))), "@");
    t.Items.push_back(ExpectedItem{});  // all fields 0, empty code and text
    return t;
}

}  // namespace zentrok::test
