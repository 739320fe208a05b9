#include "item_ledger.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "link_harness.h"
#include "platform/platform.h"

namespace zentrok::test {
namespace {

std::string Key(std::uint16_t channel, std::int32_t ident, const std::string& code, const std::string& text) {
    return std::to_string(channel) + '|' + std::to_string(ident) + '|' + code + '|' + text;
}

std::string Key(const QenMsg& msg) { return Key(msg.Channel, msg.Ident, CodeOf(msg.Code), TextOf(msg.Text)); }

std::string Key(const ExpectedItem& item) { return Key(item.Channel, item.Ident, item.Code, item.Text); }

// The bytes [offset, offset + size) still hold the pattern.
bool Untouched(const QenMsg& msg, std::size_t offset, std::size_t size) {
    static const QenMsg kPattern = PatternMsg();
    return std::memcmp(reinterpret_cast<const char*>(&msg) + offset, reinterpret_cast<const char*>(&kPattern) + offset,
                       size) == 0;
}

bool StampMatches(const QenSystemTime& stamp, const ExpectedItem& expected) {
    if (!expected.HasStamp) return stamp.wYear == QEN_NO_STAMP;
    const int year = platform::UtcNow().wYear;  // the year is the clock's
    return std::abs(stamp.wYear - year) <= 1 && stamp.wMonth == expected.Stamp.wMonth &&
           stamp.wDay == expected.Stamp.wDay && stamp.wHour == expected.Stamp.wHour &&
           stamp.wMinute == expected.Stamp.wMinute && stamp.wSecond == expected.Stamp.wSecond;
}

}  // namespace

void ItemLedger::Expect(const SoakTelegram& telegram) {
    const auto seq = static_cast<std::size_t>(telegram.Seq);
    if (items_.size() <= seq) {
        items_.resize(seq + 1);
        delivered_.resize(seq + 1);
    }
    items_[seq] = telegram.Items;
    delivered_[seq].assign(telegram.Items.size(), false);
    for (std::size_t index = 0; index < telegram.Items.size(); ++index)
        places_[Key(telegram.Items[index])].push_back({telegram.Seq, index});
}

ItemLedger::Verdict ItemLedger::Deliver(const QenMsg& delivered, std::int64_t seq, std::size_t index) {
    const auto found = places_.find(Key(delivered));
    if (found == places_.end()) return Verdict::Unknown;
    const std::vector<Place>& places = found->second;
    const auto isDelivered = [this](const Place& p) { return delivered_[p.Seq][p.Index]; };

    const auto due =
        std::find_if(places.begin(), places.end(), [&](const Place& p) { return p.Seq == seq && p.Index == index; });
    if (due != places.end() && !isDelivered(*due)) {
        delivered_[seq][index] = true;
        return FieldsMatch(delivered, items_[seq][index]) ? Verdict::InPlace : Verdict::WrongFields;
    }
    if (std::any_of(places.begin(), places.end(), isDelivered)) return Verdict::Duplicated;
    for (const Place& place : places) {
        if (place.Seq != seq) continue;
        delivered_[place.Seq][place.Index] = true;
        return Verdict::OutOfOrder;
    }
    return Verdict::Foreign;
}

bool ItemLedger::FieldsMatch(const QenMsg& delivered, const ExpectedItem& expected) const {
    const bool lengths = delivered.Code.Length == expected.Code.size() && delivered.Text.Length == expected.Text.size();
    // Bytes the driver never writes, and characters past a string's length.
    const bool unwritten = Untouched(delivered, 6, 2) && Untouched(delivered, 23, 1) && Untouched(delivered, 40, 4) &&
                           Untouched(delivered, 13 + expected.Code.size(), 2 - expected.Code.size()) &&
                           Untouched(delivered, 16 + expected.Text.size(), 7 - expected.Text.size());
    if (!expected.IsMessage)  // a queued entry writes neither Number nor Stamp
        return lengths && unwritten && Untouched(delivered, 0, 4) && Untouched(delivered, 24, 16);
    return lengths && unwritten && delivered.Number == expected.Number && StampMatches(delivered.Stamp, expected);
}

}  // namespace zentrok::test
