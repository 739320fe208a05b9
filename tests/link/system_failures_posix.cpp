#include <cerrno>

#include "system_failures.h"

namespace zentrok::test {

// A terminal whose device has gone answers EIO, ENXIO or ENODEV for good.
std::vector<ReadFailure> ReadFailures() {
    return {
        {"EIO", EIO, 0, true},        {"ENXIO", ENXIO, 0, true},    {"ENODEV", ENODEV, 0, true},
        {"EINVAL", EINVAL, 0, false}, {"ENOMEM", ENOMEM, 0, false},
    };
}

}  // namespace zentrok::test
