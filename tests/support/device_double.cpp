#include "device_double.h"

#include <thread>

namespace zentrok::test {

void DeviceDouble::SendTelegram(std::string_view text) {
    std::string bytes(text);
    bytes += kEndCharacter;
    Send(bytes);
}

void DeviceDouble::Trickle(std::string_view bytes, std::chrono::milliseconds gap) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) std::this_thread::sleep_for(gap);
        Send(bytes.substr(i, 1));
    }
}

}  // namespace zentrok::test
