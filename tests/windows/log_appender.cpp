// Appends telegrams to the telegram log of the current directory, as a
// reader thread does: log_appender <tag> <count> logs "<tag>-<n>" for each n.
#include <cstdlib>
#include <string>

#include "link/telegram_log.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const std::string tag = argv[1];
    for (int n = 0, count = std::atoi(argv[2]); n < count; ++n) zentrok::AppendTelegramLog(tag + "-" + std::to_string(n));
    return 0;
}
