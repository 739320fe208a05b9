// "Rn.ini" as the driver reads it: private-profile lookup rules (the
// conversion of a value to a number is tests/decode/conversions_test.cpp).
#include <gtest/gtest.h>

#include "link/line_settings.h"
#include "platform/platform.h"
#include "work_dir.h"

namespace zentrok::test {
namespace {

std::string Lookup(std::string_view section, std::string_view key) {
    return platform::ReadProfileString(platform::CurrentDirPath({kConfigFileName}), section, key);
}

TEST(ProfileLookup, NamesMatchWhateverTheirCaseAndBlanksAroundThemDoNotCount) {
    WorkDir dir;
    dir.WriteIni("; line settings\r\n[ recnr1 ]\r\n  baud =  9600  \r\nDATABIT\t=8\r\n");
    EXPECT_EQ(Lookup("RecNr1", "Baud"), "9600");
    EXPECT_EQ(Lookup("RECNR1", "DataBit"), "8");
    EXPECT_EQ(Lookup("RecNr1", "Parity"), "") << "a missing key";
    EXPECT_EQ(Lookup("RecNr2", "Baud"), "") << "a missing section";
    EXPECT_EQ(Lookup("RecNr", "Baud"), "") << "a section name is matched whole";
}

TEST(ProfileLookup, FirstMatchingSectionAndKeyWin) {
    WorkDir dir;
    dir.WriteIni("[RecNr1]\nBaud=1200\nBaud=2400\n[RecNr2]\nBaud=4800\n[RecNr1]\nBaud=9600\nStopBit=2\n");
    EXPECT_EQ(Lookup("RecNr1", "Baud"), "1200");
    EXPECT_EQ(Lookup("RecNr1", "StopBit"), "") << "only the first section of a name is read";
    EXPECT_EQ(Lookup("RecNr2", "Baud"), "4800");
}

TEST(ProfileLookup, MissingFileGivesNothing) {
    WorkDir dir;
    EXPECT_EQ(Lookup("RecNr1", "Baud"), "");
}

}  // namespace
}  // namespace zentrok::test
