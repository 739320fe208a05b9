// Telegram scripts of the simulator: one telegram per line, without its end
// character. Escapes: \xHH, \\, \t, \r, \n, and \e for an explicit end
// character inside a telegram. Lines starting with "#" are comments; empty
// and all-blank lines are ignored. Other blanks are part of the telegram.
#pragma once

#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "link/protocol.h"

namespace zentrok::sim {

struct ScriptTelegram {
    int Line = 0;       // line number in the script, from 1
    std::string Bytes;  // without the end character
};

struct ScriptError {
    int Line = 0;
    std::string Message;
};

struct Script {
    std::vector<ScriptTelegram> Telegrams;
    std::optional<ScriptError> Error;  // the first malformed line, if any
};

Script ParseScript(std::istream& in);

// The built-in samples: one telegram of every type.
Script SampleScript();

// ACK bytes the driver answers `telegram` with: two for type "0", none for
// an empty telegram (the driver ignores it), otherwise one.
int ExpectedAcks(const std::string& telegram);

// The telegram as a script line: control bytes, backslashes and whatever
// the script would misread (a leading "#", all blanks) written as escapes.
std::string Escaped(const std::string& telegram);

}  // namespace zentrok::sim
