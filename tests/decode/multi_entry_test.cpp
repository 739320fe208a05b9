// Multi-entry (type "S") telegrams: the header, the entry grammar and the
// queue of further entries.
#include <string>
#include <vector>

#include "decoder_fixture.h"

namespace zentrok::test {
namespace {

using Entries = std::vector<std::string>;

class MultiEntryTelegram : public DecoderTest {
protected:
    // Decodes `entries` behind a fixed header; true when an entry qualified
    // (rather than the placeholder message standing in for none).
    bool Placed(std::string_view entries) { return Decode(MultiEntry(entries)) && Text() != "......."; }
};

TEST_F(MultiEntryTelegram, HeaderAndOneEntry) {
    state.ChannelIdents[2] = 0x1A2B;
    ASSERT_TRUE(Decode("S052 #1A2B/Eri12/ABC/]"));
    EXPECT_EQ(state.Msg.Number, 5);
    EXPECT_EQ(state.Msg.Channel, 2);
    EXPECT_EQ(state.Msg.Ident, 0x1A2B);
    EXPECT_EQ(Code(), "12");
    EXPECT_EQ(Text(), "    ABC");
    EXPECT_EQ(state.Msg.Stamp.wYear, kNoStamp);
    EXPECT_EQ(state.ChannelIdents[2], 0);
    EXPECT_TRUE(state.Pending.Empty());

    // "]" at 12: no entries, so the placeholder message.
    ASSERT_TRUE(Decode("S052 #1A2B/]"));
    EXPECT_EQ(state.Msg.Number, 5);
    EXPECT_EQ(state.Msg.Channel, 0);
    EXPECT_EQ(state.Msg.Ident, 0);
    EXPECT_EQ(Code(), "..");
    EXPECT_EQ(Text(), ".......");
    EXPECT_EQ(state.Msg.Stamp.wYear, kNoStamp);
}

TEST_F(MultiEntryTelegram, ClosingBracketMustStandAtPosition6OrLater) {
    EXPECT_FALSE(Decode("S010#1/Eri01/A"));
    EXPECT_FALSE(Decode("S]"));
    EXPECT_FALSE(Decode("S012]"));
    EXPECT_TRUE(Decode("S012 ]"));
    // Only the first "]" counts.
    ASSERT_TRUE(Decode("S010#1/Eri01/A]Eri02/B]"));
    EXPECT_EQ(Text(), "      A");
    EXPECT_TRUE(state.Pending.Empty());
    EXPECT_EQ(acks, 0);
}

TEST_F(MultiEntryTelegram, IdentIsTheRunOfUpperCaseHexDigitsAfterTheHash) {
    ASSERT_TRUE(Decode("S010#123456789ABC/Eri01/X]"));
    EXPECT_EQ(state.Msg.Ident, 0x12345678);

    // A lower-case letter ends the run and goes with the header.
    ASSERT_TRUE(Decode("S010#1AfEri01/X]"));
    EXPECT_EQ(state.Msg.Ident, 0x1A);
    EXPECT_EQ(Text(), "      X");

    // Without "#" only the "S" goes; the entries start at position 2.
    ASSERT_TRUE(Decode("SEri01/X]"));
    EXPECT_EQ(state.Msg.Number, 0);
    EXPECT_EQ(state.Msg.Ident, 0);
    EXPECT_EQ(Code(), "01");
    EXPECT_EQ(Text(), "      X");
}

TEST_F(MultiEntryTelegram, EntriesChangeKindCodeAndNumber) {
    ASSERT_TRUE(Decode("S071#2A4F/Eri12/Hall A/ri03/gate/Nda5/x/Eri7/9]"));
    EXPECT_EQ(state.Msg.Number, 7);
    EXPECT_EQ(state.Msg.Channel, 1);
    EXPECT_EQ(state.Msg.Ident, 0x2A4F);
    EXPECT_EQ(Code(), "12");
    EXPECT_EQ(Text(), " Hall A");
    EXPECT_EQ(state.GroupChannel, 1);
    EXPECT_EQ(state.GroupIdent, 0x2A4F);
    EXPECT_EQ(Pending(), (Entries{"03   gate", "07      9"}));

    // Kind and code carried over to entries without their own.
    ASSERT_TRUE(Decode(MultiEntry("Eri12/AAA/BBB/3/CCC")));
    EXPECT_EQ(Code(), "12");
    EXPECT_EQ(Text(), "    AAA");
    EXPECT_EQ(Pending(), (Entries{"12    BBB", "12      3", "12    CCC"}));

    // The last character never counts as a digit.
    ASSERT_TRUE(Decode(MultiEntry("Eri12")));
    EXPECT_EQ(Code(), " 1");
    EXPECT_EQ(Text(), "      2");

    // No "ri" entry: the placeholder.
    ASSERT_TRUE(Decode("S071#2A4F/Nda01/x/Eti02/y]"));
    EXPECT_EQ(state.Msg.Number, 7);
    EXPECT_EQ(state.Msg.Channel, 0);
    EXPECT_EQ(state.Msg.Ident, 0);
    EXPECT_EQ(Code(), "..");
    EXPECT_EQ(Text(), ".......");
    EXPECT_TRUE(state.Pending.Empty());
}

TEST_F(MultiEntryTelegram, OnlyKindsEAndNWithCodeRiYieldEntries) {
    EXPECT_TRUE(Placed("Nri04/ABC"));
    EXPECT_EQ(Code(), "04");
    for (const char* entries : {"ri12/AAA/", "Ori01/A", "@ri01/A", "#ri01/A", "Ari01/A", "Iri01/A", "Xri01/A",
                                "Lri01/A", "&ri01/A", "0ri01/A", "eri01/A", "ERI01/A", "Eir01/A", "Eda01/A"}) {
        SCOPED_TRACE(entries);
        EXPECT_FALSE(Placed(entries));
    }
}

TEST_F(MultiEntryTelegram, KindCharacterStartsANewRunAndClearsTheCode) {
    ASSERT_TRUE(Placed("Eri12/AAA/ABC/ri13/DEF"));
    EXPECT_TRUE(state.Pending.Empty());
    ASSERT_TRUE(Placed("Eri12/AAA/0BC/DEF"));
    EXPECT_TRUE(state.Pending.Empty());
    ASSERT_TRUE(Placed("Eri12/AAA/N/BBB"));
    EXPECT_TRUE(state.Pending.Empty());
    // A new E run needs its own code again.
    ASSERT_TRUE(Placed("Eri12/AAA/EBBB/Eri/CCC"));
    EXPECT_EQ(Pending(), (Entries{"12    CCC"}));
}

TEST_F(MultiEntryTelegram, CodeAndDigitRun) {
    // A code other than "ri" still sets the number.
    ASSERT_TRUE(Placed("Eda07/XYZ/ri/ABC"));
    EXPECT_EQ(Code(), "07");
    EXPECT_EQ(Text(), "    ABC");

    // Three or more digits keep the first two.
    ASSERT_TRUE(Placed("Eri12345/X"));
    EXPECT_EQ(Code(), "12");
    EXPECT_EQ(Text(), "      X");

    // One digit replaces only the second character.
    ASSERT_TRUE(Placed("Eri12/AAA/ri3/BBB/ri/CCC"));
    EXPECT_EQ(Pending(), (Entries{"13    BBB", "13    CCC"}));

    // Digits need no "/" after them.
    ASSERT_TRUE(Placed("Eri12AB/CD"));
    EXPECT_EQ(Code(), "12");
    EXPECT_EQ(Text(), "     AB");
    EXPECT_EQ(Pending(), (Entries{"12     CD"}));

    // A code followed directly by the end: text of blanks.
    ASSERT_TRUE(Placed("Eri"));
    EXPECT_EQ(Code(), "  ");
    EXPECT_EQ(Text(), "       ");

    // Every other code sets the number too; two letters that straddle two
    // codes of the table are text.
    for (const std::string code : {"da", "ti", "id", "Pi", "ai", "ph"}) {
        ASSERT_TRUE(Placed("Eri12/AAA/" + code + "34/BBB/ri/CCC")) << code;
        EXPECT_EQ(Pending(), (Entries{"34    CCC"})) << code;
    }
    for (const std::string letters : {"at", "ir", "ii", "dP", "ia", "ip"}) {
        ASSERT_TRUE(Placed("Eri12/AAA/" + letters + "/BBB")) << letters;
        EXPECT_EQ(Pending(), (Entries{"12     " + letters, "12    BBB"})) << letters;
    }
}

TEST_F(MultiEntryTelegram, EntryText) {
    ASSERT_TRUE(Placed("Eri05//"));
    EXPECT_EQ(Text(), "       ");
    EXPECT_TRUE(state.Pending.Empty());

    ASSERT_TRUE(Placed("Eri12/Long text here/Seven chars"));
    EXPECT_EQ(Text(), "Long te");
    EXPECT_EQ(Pending(), (Entries{"12Seven c"}));

    // Received bytes are kept as they are, case included.
    ASSERT_TRUE(Placed("Eri01/\xE4x\x01Y"));
    EXPECT_EQ(Text(), "   \xE4x\x01Y");
}

TEST_F(MultiEntryTelegram, LoneLastCharacterIsACodeOnlyForDTRAndP) {
    for (const char* last : {"i", "x", "h", "a", "9"}) {
        SCOPED_TRACE(last);
        ASSERT_TRUE(Placed(std::string("Eri12/AAA/") + last));
        EXPECT_EQ(Pending(), (Entries{std::string("12      ") + last}));
    }
    for (const char* last : {"d", "t", "r", "P", "p"}) {
        SCOPED_TRACE(last);
        ASSERT_TRUE(Placed(std::string("Eri12/AAA/") + last));
        EXPECT_TRUE(state.Pending.Empty());
    }
}

TEST_F(MultiEntryTelegram, NothingCarriesOverToTheNextTelegram) {
    ASSERT_TRUE(Placed("Eri12/A/B/C"));
    ASSERT_EQ(Pending().size(), 2u);

    // Number, kind and code start afresh.
    ASSERT_TRUE(Placed("Eri/B"));
    EXPECT_EQ(Code(), "  ");
    EXPECT_TRUE(state.Pending.Empty());
    ASSERT_TRUE(Decode("S010#1/Eri12/A/B/C]"));
    EXPECT_FALSE(Placed("B/C"));

    // Another type of telegram leaves no entries queued either.
    ASSERT_TRUE(Decode("S010#1/Eri12/A/B/C]"));
    ASSERT_TRUE(Decode(Line(20, {{1, "1010"}})));
    EXPECT_TRUE(state.Pending.Empty());
}

TEST_F(MultiEntryTelegram, IdentAllOnesStillPlacesOnlyTheFirstEntry) {
    ASSERT_TRUE(Decode("S013#FFFFFFFF/Eri01/A/B/C]"));
    EXPECT_EQ(state.Msg.Ident, -1);
    EXPECT_EQ(Code(), "01");
    EXPECT_EQ(Text(), "      A");
    EXPECT_TRUE(state.GroupPlaced);
    EXPECT_EQ(state.GroupChannel, 3);
    EXPECT_EQ(state.GroupIdent, -1);
    EXPECT_EQ(Pending(), (Entries{"01      B", "01      C"}));
}

TEST_F(MultiEntryTelegram, LongestTelegramQueuesEveryEntry) {
    // 249 characters: "S", then "Eri" and 244 "/", then "]". The first "/"
    // ends the code's digit run, the next is the placed entry; each further
    // "/" is an entry with an empty text.
    const std::string telegram = "SEri" + std::string(244, '/') + "]";
    ASSERT_EQ(telegram.size(), kMaxTelegramLength);
    ASSERT_TRUE(Decode(telegram));
    EXPECT_EQ(Text(), "       ");
    const Entries pending = Pending();
    ASSERT_EQ(pending.size(), 242u);
    for (const std::string& entry : pending) EXPECT_EQ(entry, "         ");

    // Distinct entries keep their order: "Eri10/11/12/.../88/", where 10 is
    // the entry number, 11 the placed text and 12 to 88 are queued.
    std::string numbered = "S010#1/Eri";
    for (int n = 10; numbered.size() + 4 <= kMaxTelegramLength; ++n) numbered += std::to_string(n) + "/";
    ASSERT_TRUE(Decode(numbered + "]"));
    EXPECT_EQ(Text(), "     11");
    const Entries ordered = Pending();
    ASSERT_EQ(ordered.size(), 77u);
    for (std::size_t i = 0; i < ordered.size(); ++i) EXPECT_EQ(ordered[i], "10     " + std::to_string(12 + i));
}

}  // namespace
}  // namespace zentrok::test
