// Where every item of the soak belongs, by the fields that name it, and the
// verdict on each item the host receives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "soak_telegrams.h"
#include "zentrok.h"

namespace zentrok::test {

class ItemLedger {
public:
    enum class Verdict {
        InPlace,      // the item due now, with every field right
        WrongFields,  // the item due now, but a field is wrong or a byte not written was changed
        Duplicated,   // an item that was delivered before
        OutOfOrder,   // an item of this telegram, not the one due now
        Foreign,      // an item of another telegram
        Unknown,      // no item of any telegram
    };

    void Expect(const SoakTelegram& telegram);

    // Judges `delivered`, which qen_GetMsg wrote onto a PatternMsg(), as
    // item `index` of telegram `seq`.
    Verdict Deliver(const QenMsg& delivered, std::int64_t seq, std::size_t index);

private:
    struct Place {
        std::int64_t Seq;
        std::size_t Index;
    };

    bool FieldsMatch(const QenMsg& delivered, const ExpectedItem& expected) const;

    std::unordered_map<std::string, std::vector<Place>> places_;
    std::vector<std::vector<ExpectedItem>> items_;  // by sequence number
    std::vector<std::vector<bool>> delivered_;
};

}  // namespace zentrok::test
