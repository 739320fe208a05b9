#include "sim/script.h"

#include <cstdio>
#include <sstream>

#include "decode/conversions.h"

namespace zentrok::sim {
namespace {

// One telegram of every type the driver knows, and one it does not.
constexpr const char* kSamples = R"(# type 1 without and with a time stamp
107A      3F2C XB123
108A      3F2C YC45614:05:09 28.02
# type 3: a registration of code K7 on channel F, then its use
301F    00ABCDri  K7
302F    00ABCDok  55
# type 5 without and with a time stamp
5123    0C1ABCDXY567
5133    0C1ABCDXY56714:05:09 15.06
# type S: a message and two queued entries
S071#2A4F/Eri12/Hall A/ri03/gate/Nda5/x/Eri7/9]
# type 0: answered with two ACKs, nothing for the host
001
# a type the driver does not know: an empty message
X99
)";

bool IsBlank(const std::string& line) { return line.find_first_not_of(" \t") == std::string::npos; }

// Resolves the escapes of one line; false with `error` set when one is bad.
bool Unescape(const std::string& line, std::string& bytes, std::string& error) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '\\') {
            bytes += line[i];
            continue;
        }
        const std::size_t column = i + 1;
        if (++i == line.size()) {
            error = "column " + std::to_string(column) + ": backslash at the end of the line";
            return false;
        }
        switch (line[i]) {
            case '\\': bytes += '\\'; break;
            case 't': bytes += '\t'; break;
            case 'r': bytes += '\r'; break;
            case 'n': bytes += '\n'; break;
            case 'e': bytes += kEndCharacter; break;
            case 'x': {
                const int high = i + 1 < line.size() ? HexDigit(line[i + 1]) : -1;
                const int low = i + 2 < line.size() ? HexDigit(line[i + 2]) : -1;
                if (high < 0 || low < 0) {
                    error = "column " + std::to_string(column) + ": \\x needs two hexadecimal digits";
                    return false;
                }
                bytes += static_cast<char>(high * 16 + low);
                i += 2;
                break;
            }
            default: error = "column " + std::to_string(column) + ": unknown escape \\" + line[i]; return false;
        }
    }
    return true;
}

}  // namespace

Script ParseScript(std::istream& in) {
    Script script;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();  // CR LF line ends
        if (IsBlank(line) || line.front() == '#') continue;
        ScriptTelegram telegram;
        telegram.Line = number;
        std::string error;
        if (!Unescape(line, telegram.Bytes, error)) {
            script.Error = ScriptError{number, error};
            return script;
        }
        script.Telegrams.push_back(std::move(telegram));
    }
    return script;
}

Script SampleScript() {
    std::istringstream in(kSamples);
    return ParseScript(in);
}

int ExpectedAcks(const std::string& telegram) {
    if (telegram.empty()) return 0;
    return telegram.front() == '0' ? 2 : 1;
}

std::string Escaped(const std::string& telegram) {
    std::string text;
    for (std::size_t i = 0; i < telegram.size(); ++i) {
        const char c = telegram[i];
        const auto byte = static_cast<unsigned char>(c);
        // A script line would read a leading "#" as a comment and an
        // all-blank line as nothing.
        const bool misread = i == 0 && (c == '#' || IsBlank(telegram));
        if (c == '\\') {
            text += "\\\\";
        } else if (c == kEndCharacter) {
            text += "\\e";
        } else if (misread || byte < 0x20 || byte >= 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            text += hex;
        } else {
            text += c;
        }
    }
    return text;
}

}  // namespace zentrok::sim
