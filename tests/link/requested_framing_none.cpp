#include "requested_framing.h"

namespace zentrok::test {

bool FramingRequestsVisible() { return false; }
std::size_t FramingRequests() { return 0; }
Framing LastRequestedFraming() { return {}; }

}  // namespace zentrok::test
