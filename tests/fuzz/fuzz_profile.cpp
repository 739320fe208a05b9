// Feeds arbitrary "Rn.ini" files to the private-profile reader and the
// port-setup reader, and every value read to the integer conversion, and
// checks what must hold for any file: values are trimmed, single-line and
// at most 2047 characters; the conversion skips leading blanks and agrees
// with the C library on plain decimal numbers; the port setup always has
// its fixed parts and one of the three flag words, and the account of it
// that the monitor prints describes exactly the setup the driver applies.
//
// The input is written to "Rn.ini" in a temporary working directory, once
// per run, and read back as the driver reads it.
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "decode/conversions.h"
#include "fuzz_check.h"
#include "link/line_settings.h"
#include "link/protocol.h"
#include "platform/platform.h"

namespace {

using namespace zentrok;
using namespace zentrok::fuzz;

constexpr std::size_t kMaxValue = 2047;
constexpr std::string_view kKeys[] = {"Baud", "DataBit", "Parity", "StopBit", "FlowCtrl", "baud", ""};

bool IsPlainDecimal(std::string_view text) {
    if (text.empty() || text.size() > 18) return false;
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

void CheckProfileInt(std::string_view text) {
    const NumberValue value = ReadNumber(text, NumberRule::Whole);
    const NumberValue blanked = ReadNumber("  " + std::string(text), NumberRule::Whole);
    Check(blanked.Status == value.Status && blanked.Value == value.Value, "leading blanks are skipped");
    if (value.Status == NumberStatus::Number) {
        const NumberValue leading = ReadNumber(text, NumberRule::Leading);
        // A field's decimal stops before 2147483648, so INT32_MIN is whole only.
        Check(leading.Value == value.Value || value.Value == INT32_MIN, "a whole number reads the same as a field");
    }
    if (!IsPlainDecimal(text)) return;
    errno = 0;
    const long long reference = std::strtoll(std::string(text).c_str(), nullptr, 10);
    const bool fits = reference <= INT32_MAX;
    Check(value.Status == (fits ? NumberStatus::Number : NumberStatus::OutOfRange),
          "a plain decimal number converts exactly when it fits, and is out of range otherwise");
    if (fits) Check(value.Value == reference, "a plain decimal number converts to its value");
}

void CheckValue(const std::string& value) {
    Check(value.size() <= kMaxValue, "a value has at most 2047 characters");
    Check(value.find('\n') == std::string::npos, "a value is one line");
    Check(value.empty() || (value.front() != ' ' && value.back() != ' '), "a value is trimmed");
    CheckProfileInt(value);
}

// The name inside the first "[...]" of the file, so that sections that are
// there are looked up too.
std::string FirstSectionName(std::string_view file) {
    const std::size_t open = file.find('[');
    const std::size_t close = file.find(']', open);
    if (open == std::string_view::npos || close == std::string_view::npos) return "RecNr1";
    return std::string(file.substr(open + 1, close - open - 1));
}

void CheckPortSetup(std::int32_t recNumber) {
    const platform::PortSetup setup = ReadPortSetup(recNumber);
    const std::uint32_t flags = setup.Line.Flags;
    Check(flags == 0x0011 || flags == 0x0311 || flags == 0x2015, "the flag word is one of three");
    Check(setup.Line.EvtChar == kEndCharacter, "the event character is the end character");
    Check(setup.InQueue == 200 && setup.OutQueue == 200, "queue sizes are fixed");
    Check(setup.ReadIntervalTimeout == 0 && setup.ReadTotalTimeoutMultiplier == 0 &&
              setup.ReadTotalTimeoutConstant == 0 && setup.WriteTotalTimeoutMultiplier == 0 &&
              setup.WriteTotalTimeoutConstant == 0,
          "time-outs are fixed");

    const PortSetupReport report = ReportPortSetup(recNumber);
    const platform::PortSetup& told = report.Setup;
    Check(told.Line.BaudRate == setup.Line.BaudRate && told.Line.ByteSize == setup.Line.ByteSize &&
              told.Line.Parity == setup.Line.Parity && told.Line.StopBits == setup.Line.StopBits &&
              told.Line.Flags == setup.Line.Flags && told.Line.EvtChar == setup.Line.EvtChar &&
              told.InQueue == setup.InQueue && told.OutQueue == setup.OutQueue &&
              told.ReadIntervalTimeout == setup.ReadIntervalTimeout &&
              told.ReadTotalTimeoutMultiplier == setup.ReadTotalTimeoutMultiplier &&
              told.ReadTotalTimeoutConstant == setup.ReadTotalTimeoutConstant &&
              told.WriteTotalTimeoutMultiplier == setup.WriteTotalTimeoutMultiplier &&
              told.WriteTotalTimeoutConstant == setup.WriteTotalTimeoutConstant,
          "the report is of the setup the driver applies");
    Check(report.Keys.size() == 5, "the report accounts for every key");
    for (const SettingReport& key : report.Keys)
        Check((key.Origin == SettingOrigin::File) ==
                  (ReadNumber(key.Text, NumberRule::Whole).Status == NumberStatus::Number),
              "a key counts as read from the file exactly when its value is a number");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string dir = (std::filesystem::temp_directory_path() / "zentrok-fuzz-profile-XXXXXX").string();
    if (!mkdtemp(dir.data()) || chdir(dir.c_str()) != 0) {
        std::perror("zentrok fuzz_profile: no working directory");
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    std::ofstream(kConfigFileName, std::ios::binary | std::ios::trunc)
        .write(file.data(), static_cast<std::streamsize>(size));

    const std::string path = platform::CurrentDirPath({kConfigFileName});
    for (const std::string& section : {std::string("RecNr1"), std::string("recnr2"), FirstSectionName(file)})
        for (const std::string_view key : kKeys) CheckValue(platform::ReadProfileString(path, section, key));
    CheckPortSetup(1);
    CheckPortSetup(-7);
    CheckProfileInt(file.substr(0, 64));
    return 0;
}
