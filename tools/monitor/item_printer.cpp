#include "monitor/item_printer.h"

#include "monitor/item_format.h"

namespace zentrok::monitor {

void ItemPrinter::Print(const QenMsg& msg, const std::string& received) {
    if (!json_ && count_ == 0) std::printf("%s\n", TextHeader(received_).c_str());
    ++count_;
    const std::string* shown = received_ ? &received : nullptr;
    std::printf("%s\n", (json_ ? JsonRow(count_, msg, shown) : TextRow(count_, msg, shown)).c_str());
    std::fflush(stdout);  // rows are read as they come, often through a pipe
}

}  // namespace zentrok::monitor
