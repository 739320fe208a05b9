// Prints delivered items, numbered from 1, as table rows or JSON lines.
#pragma once

#include <cstdio>

#include "zentrok.h"

namespace zentrok::monitor {

class ItemPrinter {
public:
    explicit ItemPrinter(bool json) : json_(json) {}

    // Prints `msg` (filled with FillSentinel before it was delivered).
    void Print(const QenMsg& msg);

    int Count() const { return count_; }

private:
    bool json_;
    int count_ = 0;
};

}  // namespace zentrok::monitor
