#include <windows.h>

#include "system_failures.h"

namespace zentrok::test {

// USB serial drivers fail the I/O of a removed device with any of these
// codes, and ClearCommError on the handle then fails too; a read cancelled
// at suspend fails with ERROR_OPERATION_ABORTED while the handle still works.
std::vector<ReadFailure> ReadFailures() {
    return {
        {"aborted, handle works", ERROR_OPERATION_ABORTED, 0, false},
        {"access denied, handle works", ERROR_ACCESS_DENIED, 0, false},
        {"bad command, handle works", ERROR_BAD_COMMAND, 0, false},
        {"device not connected", ERROR_DEVICE_NOT_CONNECTED, ERROR_DEVICE_NOT_CONNECTED, true},
        {"general failure, bad command", ERROR_GEN_FAILURE, ERROR_BAD_COMMAND, true},
        {"device removed, access denied", ERROR_DEVICE_REMOVED, ERROR_ACCESS_DENIED, true},
        {"aborted, device not connected", ERROR_OPERATION_ABORTED, ERROR_DEVICE_NOT_CONNECTED, true},
    };
}

}  // namespace zentrok::test
