// Prints delivered items, numbered from 1, as table rows or JSON lines.
#pragma once

#include <cstdio>
#include <string>

#include "zentrok.h"

namespace zentrok::monitor {

class ItemPrinter {
public:
    // `received`: every row carries the time its telegram was received.
    explicit ItemPrinter(bool json, bool received = false) : json_(json), received_(received) {}

    // Prints `msg` (filled with FillSentinel before it was delivered), with
    // `received` when the printer was made to show it.
    void Print(const QenMsg& msg, const std::string& received = {});

    int Count() const { return count_; }

private:
    bool json_;
    bool received_;
    int count_ = 0;
};

}  // namespace zentrok::monitor
