// System-status lines through the exported call: which lines switch bits of
// the host's status mask, which mark entries of its status table, and that
// nothing else of the host's memory changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "zentrok.h"

namespace {

using StateTable = std::array<std::uint8_t, 14>;

constexpr std::int32_t kAllBits = -1;
constexpr std::uint8_t kTablePattern = 0x11;

struct HostStatus {
    std::int32_t mask = 0;
    StateTable table;
    std::int32_t value = 77;

    explicit HostStatus(std::int32_t initialMask = 0) : mask(initialMask) { table.fill(kTablePattern); }
};

// The line as a length-prefixed string in a buffer of exactly that size, so
// a read past the length byte's promise is caught by the sanitizers.
std::vector<std::uint8_t> LengthPrefixed(std::string_view line) {
    std::vector<std::uint8_t> bytes(line.size() + 1);
    bytes[0] = static_cast<std::uint8_t>(line.size());
    std::copy(line.begin(), line.end(), bytes.begin() + 1);
    return bytes;
}

void Apply(std::string_view line, HostStatus& status) {
    const std::vector<std::uint8_t> sysLine = LengthPrefixed(line);
    status.value = 77;
    EXPECT_EQ(qen_GetSysMsg(sysLine.data(), &status.mask, status.table.data(), &status.value), 0);
    EXPECT_EQ(status.value, 2) << "line \"" << line << "\"";
}

StateTable TableWith(int entry, std::uint8_t value) {
    StateTable table;
    table.fill(kTablePattern);
    table[entry - 1] = value;
    return table;
}

struct MaskLinePair {
    std::string_view setLine;
    std::string_view clearLine;
    std::int32_t bit;
};

constexpr MaskLinePair kMaskLines[] = {
    {"   A 03", "   R 04", 0x01}, {"   A 11", "   R 12", 0x02}, {"   A 17", "   R 18", 0x04},
    {"   A 07", "   R 08", 0x10}, {"   A 15", "   R 16", 0x20},
};

TEST(SystemLines, EachMaskLineSwitchesOneBit) {
    for (const MaskLinePair& pair : kMaskLines) {
        SCOPED_TRACE(pair.setLine);
        HostStatus status;
        Apply(pair.setLine, status);
        EXPECT_EQ(status.mask, pair.bit);
        Apply(pair.setLine, status);
        EXPECT_EQ(status.mask, pair.bit) << "setting a set bit";
        Apply(pair.clearLine, status);
        EXPECT_EQ(status.mask, 0);
        Apply(pair.clearLine, status);
        EXPECT_EQ(status.mask, 0) << "clearing a clear bit";
        EXPECT_EQ(status.table, TableWith(1, kTablePattern)) << "mask lines leave the table alone";

        // Every other bit, 0x08 and the high bits included, is kept.
        HostStatus full(kAllBits);
        Apply(pair.clearLine, full);
        EXPECT_EQ(full.mask, ~pair.bit);
        Apply(pair.setLine, full);
        EXPECT_EQ(full.mask, kAllBits);
    }

    HostStatus full(kAllBits);
    Apply("   R 08", full);
    EXPECT_EQ(static_cast<std::uint32_t>(full.mask), 0xFFFFFFEFu);
}

TEST(SystemLines, NearMissesChangeNothing) {
    constexpr std::string_view kNearMisses[] = {
        "   A 03 ",  // a blank appended
        "  A 03",    // two leading blanks
        "    A 03",  // four leading blanks
        "   a 03",   // lower-case letter
        "   A 3",    // one digit
        "   A 05",   // no such code
        "   X 03",   // no such letter
        "A 03",     "",
    };
    for (std::string_view line : kNearMisses) {
        SCOPED_TRACE(line);
        HostStatus status(0x08);
        Apply(line, status);
        EXPECT_EQ(status.mask, 0x08);
        HostStatus full(kAllBits);
        Apply(line, full);
        EXPECT_EQ(full.mask, kAllBits);
        EXPECT_EQ(full.table, TableWith(1, kTablePattern));
    }
}

TEST(SystemLines, OnlyTheLengthByteDecidesWhatTheLineIs) {
    // "   A 03" in the buffer, but the line is its first six characters.
    std::vector<std::uint8_t> shortened = LengthPrefixed("   A 03");
    shortened[0] = 6;
    HostStatus status;
    qen_GetSysMsg(shortened.data(), &status.mask, status.table.data(), &status.value);
    EXPECT_EQ(status.mask, 0);
    EXPECT_EQ(status.value, 2);

    // Bytes past the length do not make the line longer.
    std::vector<std::uint8_t> trailing = LengthPrefixed("   A 03xyz");
    trailing[0] = 7;
    qen_GetSysMsg(trailing.data(), &status.mask, status.table.data(), &status.value);
    EXPECT_EQ(status.mask, 0x01);
}

TEST(SystemLines, EntryLinesMarkOneTableEntry) {
    struct Case {
        std::string_view line;
        int entry;  // 0: nothing written
        std::uint8_t value;
    };
    constexpr Case kCases[] = {
        {"   R E1", 1, 0xFF},
        {"   R EE", 14, 0xFF},
        {"   R Ee", 14, 0xFF},
        {"   A F7", 7, 0xFE},
        {"   A F7 and more", 7, 0xFE},
        {"   A Fa", 10, 0xFE},
        {"   R E9", 9, 0xFF},
        {"   R E0", 0, 0},
        {"   R EF", 0, 0},
        {"   A F0", 0, 0},
        {"   A FF", 0, 0},
        {"   R EG", 0, 0},
        {"   R E ", 0, 0},
        {"   R E", 0, 0},
        {"   A F", 0, 0},
        {"  R E1", 0, 0},  // the prefix must start the line
        {"x   R E1", 0, 0},
        {"   r e1", 0, 0},
        {"   R F1", 0, 0},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.line);
        HostStatus status(0x5A5A5A5A);
        Apply(c.line, status);
        EXPECT_EQ(status.table, c.entry ? TableWith(c.entry, c.value) : TableWith(1, kTablePattern));
        EXPECT_EQ(status.mask, 0x5A5A5A5A) << "entry lines leave the mask alone";
    }

    // Entries are written, never read: a later mark replaces an earlier one.
    HostStatus status;
    Apply("   A F3", status);
    Apply("   R E3", status);
    EXPECT_EQ(status.table, TableWith(3, 0xFF));
}

TEST(SystemLines, NullPointersAreEachSkipped) {
    const std::vector<std::uint8_t> maskLine = LengthPrefixed("   A 03");
    const std::vector<std::uint8_t> entryLine = LengthPrefixed("   R E2");
    HostStatus status;

    EXPECT_EQ(qen_GetSysMsg(nullptr, &status.mask, status.table.data(), &status.value), 0);
    EXPECT_EQ(status.value, 2);
    EXPECT_EQ(status.mask, 0);
    EXPECT_EQ(status.table, TableWith(1, kTablePattern));

    status.value = 77;
    qen_GetSysMsg(maskLine.data(), nullptr, status.table.data(), &status.value);
    EXPECT_EQ(status.value, 2);
    qen_GetSysMsg(entryLine.data(), &status.mask, nullptr, &status.value);
    EXPECT_EQ(status.mask, 0);

    qen_GetSysMsg(maskLine.data(), &status.mask, status.table.data(), nullptr);
    EXPECT_EQ(status.mask, 0x01);
    qen_GetSysMsg(entryLine.data(), &status.mask, status.table.data(), nullptr);
    EXPECT_EQ(status.table, TableWith(2, 0xFF));

    EXPECT_EQ(qen_GetSysMsg(nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(qen_GetSysMsg(maskLine.data(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(qen_GetSysMsg(entryLine.data(), nullptr, nullptr, nullptr), 0);
}

}  // namespace
