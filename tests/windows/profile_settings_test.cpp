// Line settings read from "Rn.ini" in the current directory through the
// Windows private-profile functions.
#include <gtest/gtest.h>

#include "link/line_settings.h"
#include "link/protocol.h"
#include "work_dir.h"

namespace zentrok {
namespace {

using platform::flags::kBinary;
using platform::flags::kDtrControlEnable;
using test::WorkDir;

constexpr std::uint32_t kNoFlowControl = kBinary | kDtrControlEnable;

TEST(ProfileSettings, WithoutFileEverySettingTakesItsDefault) {
    WorkDir dir;
    const platform::PortSetup setup = ReadPortSetup(1);
    EXPECT_EQ(setup.Line.BaudRate, 300u);
    EXPECT_EQ(setup.Line.ByteSize, 7);
    EXPECT_EQ(setup.Line.Parity, 0);
    EXPECT_EQ(setup.Line.StopBits, 0);
    EXPECT_EQ(setup.Line.Flags, 0x0011u);
    EXPECT_EQ(setup.Line.EvtChar, kEndCharacter);
    EXPECT_EQ(setup.InQueue, 200u);
    EXPECT_EQ(setup.OutQueue, 200u);
    EXPECT_EQ(setup.ReadIntervalTimeout, 0u);
    EXPECT_EQ(setup.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(setup.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(setup.WriteTotalTimeoutConstant, 0u);
}

TEST(ProfileSettings, ValuesAreConvertedOrFallBack) {
    WorkDir dir;
    dir.WriteIni(
        "[RecNr1]\r\nBaud=0x2580\r\nDataBit=263\r\nParity=2\r\nStopBit=2\r\n"
        "[RecNr2]\r\nBaud=9600x\r\nDataBit=\r\nParity=even\r\n"
        "[RecNr3]\r\nBaud=9600 baud\r\nStopBit=$1\r\n");

    const platform::LineSettings one = ReadPortSetup(1).Line;
    EXPECT_EQ(one.BaudRate, 9600u);
    EXPECT_EQ(one.ByteSize, 7) << "only the low 8 bits of 263 are taken";
    EXPECT_EQ(one.Parity, 2);
    EXPECT_EQ(one.StopBits, 2);

    const platform::LineSettings two = ReadPortSetup(2).Line;
    EXPECT_EQ(two.BaudRate, 300u);
    EXPECT_EQ(two.ByteSize, 7);
    EXPECT_EQ(two.Parity, 0);

    const platform::LineSettings three = ReadPortSetup(3).Line;
    EXPECT_EQ(three.BaudRate, 300u);
    EXPECT_EQ(three.StopBits, 1);
}

TEST(ProfileSettings, FlowControlSelectsTheFlagWord) {
    WorkDir dir;
    dir.WriteIni(
        "[RecNr1]\r\nFlowCtrl=1\r\n[RecNr2]\r\nFlowCtrl=2\r\n[RecNr3]\r\nFlowCtrl=3\r\n"
        "[RecNr4]\r\nFlowCtrl=0\r\n[RecNr5]\r\nFlowCtrl=-1\r\n");
    EXPECT_EQ(ReadPortSetup(1).Line.Flags, 0x0311u);
    EXPECT_EQ(ReadPortSetup(2).Line.Flags, 0x2015u);
    EXPECT_EQ(ReadPortSetup(3).Line.Flags, kNoFlowControl);
    EXPECT_EQ(ReadPortSetup(4).Line.Flags, kNoFlowControl);
    EXPECT_EQ(ReadPortSetup(5).Line.Flags, kNoFlowControl);
}

TEST(ProfileSettings, SectionAndKeyNamesMatchWhateverTheirCase) {
    WorkDir dir;
    dir.WriteIni("[recnr7]\r\nBAUD = 19200\r\n");
    EXPECT_EQ(ReadPortSetup(7).Line.BaudRate, 19200u);
}

TEST(ProfileSettings, SectionNumbersAreFormedWithoutLeadingZeros) {
    WorkDir dir;
    dir.WriteIni("[RecNr01]\r\nBaud=1200\r\n[RecNr-1]\r\nBaud=2400\r\n[RecNr12]\r\nBaud=4800\r\n");
    EXPECT_EQ(ReadPortSetup(1).Line.BaudRate, 300u);
    EXPECT_EQ(ReadPortSetup(-1).Line.BaudRate, 2400u);
    EXPECT_EQ(ReadPortSetup(12).Line.BaudRate, 4800u);
}

TEST(ProfileSettings, FileIsReadFromTheCurrentDirectory) {
    WorkDir outer;
    outer.WriteIni("[RecNr1]\r\nBaud=9600\r\n");
    {
        WorkDir inner;  // another current directory, without "Rn.ini"
        EXPECT_EQ(ReadPortSetup(1).Line.BaudRate, 300u);
    }
    EXPECT_EQ(ReadPortSetup(1).Line.BaudRate, 9600u);
}

}  // namespace
}  // namespace zentrok
