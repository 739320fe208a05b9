// Every tcsetattr of this program is recorded before it is passed on.
#include <dlfcn.h>
#include <termios.h>

#include <mutex>
#include <vector>

#include "requested_framing.h"

namespace {

std::mutex requestsLock;
std::vector<termios> requests;

}  // namespace

extern "C" int tcsetattr(int fd, int action, const struct termios* attributes) noexcept {
    using Real = int (*)(int, int, const struct termios*);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "tcsetattr"));
    {
        std::lock_guard<std::mutex> guard(requestsLock);
        requests.push_back(*attributes);
    }
    return real(fd, action, attributes);
}

namespace zentrok::test {

bool FramingRequestsVisible() { return true; }

std::size_t FramingRequests() {
    std::lock_guard<std::mutex> guard(requestsLock);
    return requests.size();
}

Framing LastRequestedFraming() {
    std::lock_guard<std::mutex> guard(requestsLock);
    Framing framing;
    if (requests.empty()) return framing;
    const tcflag_t flags = requests.back().c_cflag;
    switch (flags & CSIZE) {
        case CS5: framing.dataBits = 5; break;
        case CS6: framing.dataBits = 6; break;
        case CS7: framing.dataBits = 7; break;
        default: framing.dataBits = 8; break;
    }
    if (!(flags & PARENB))
        framing.parity = kNoParity;
    else if (flags & CMSPAR)
        framing.parity = flags & PARODD ? kMarkParity : kSpaceParity;
    else
        framing.parity = flags & PARODD ? kOddParity : kEvenParity;
    return framing;
}

}  // namespace zentrok::test
