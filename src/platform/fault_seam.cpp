#include "platform/fault_seam.h"

#ifdef ZENTROK_FAULT_SEAM
#include <atomic>
#include <mutex>

namespace zentrok::platform::fault_seam {
namespace {

std::atomic<std::uint32_t> gFailures[3];
std::mutex gErrorsLock;
LineErrors gErrors;

std::atomic<std::uint32_t>& Slot(Call call) { return gFailures[static_cast<int>(call)]; }

}  // namespace

void FailNext(Call call, std::uint32_t systemCode) { Slot(call) = systemCode; }

void ReportLineErrors(const LineErrors& errors) {
    std::lock_guard<std::mutex> guard(gErrorsLock);
    gErrors = errors;
}

std::uint32_t TakeFailure(Call call) { return Slot(call).exchange(0); }

LineErrors TakeLineErrors() {
    std::lock_guard<std::mutex> guard(gErrorsLock);
    const LineErrors errors = gErrors;
    gErrors = {};
    return errors;
}

}  // namespace zentrok::platform::fault_seam
#endif
