#include "monitor/item_printer.h"

#include "monitor/item_format.h"

namespace zentrok::monitor {

void ItemPrinter::Print(const QenMsg& msg) {
    if (!json_ && count_ == 0) std::printf("%s\n", TextHeader().c_str());
    ++count_;
    std::printf("%s\n", (json_ ? JsonRow(count_, msg) : TextRow(count_, msg)).c_str());
    std::fflush(stdout);  // rows are read as they come, often through a pipe
}

}  // namespace zentrok::monitor
