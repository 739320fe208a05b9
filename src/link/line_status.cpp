#include "link/line_status.h"

namespace zentrok {

std::int64_t LineStatus::NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

void LineStatus::DeviceOpened(const platform::ConfigureResult& configured) {
    {
        std::lock_guard<std::mutex> guard(settingsLock_);
        settings_ = configured;
    }
    present_ = true;
}

void LineStatus::DeviceWent() {
    wentAtMs_ = NowMs();
    present_ = false;
}

void LineStatus::TelegramArrived() {
    lastTelegramMs_ = NowMs();
    ++Telegrams;
}

std::uint32_t LineStatus::AwayMs() const {
    if (present_) return 0;
    return static_cast<std::uint32_t>(NowMs() - wentAtMs_);
}

void LineStatus::Fill(QenLineState& state) const {
    state = QenLineState{};
    state.Size = sizeof state;
    state.DevicePresent = present_ ? 1 : 0;
    state.AwayMs = AwayMs();
    const std::int64_t last = lastTelegramMs_;
    state.SinceTelegramMs = last < 0 ? QEN_NONE_YET : static_cast<std::uint32_t>(NowMs() - last);
    {
        std::lock_guard<std::mutex> guard(settingsLock_);
        if (settings_.ReadBack) {
            const platform::LineSettings& line = settings_.Reported;
            state.SettingsKnown = 1;
            state.BaudRate = line.BaudRate;
            state.ByteSize = line.ByteSize;
            state.Parity = line.Parity;
            state.StopBits = line.StopBits;
            state.Flags = line.Flags;
        }
    }
    state.Telegrams = Telegrams;
    state.AcksSent = AcksSent;
    state.Withdrawn = Withdrawn;
    state.DiscardedTelegrams = DiscardedTelegrams;
    state.LineErrors = LineErrors;
    state.Reopens = Reopens;
    state.LogLinesNotWritten = LogLinesNotWritten;
}

}  // namespace zentrok
