#include "link/comm_thread.h"

#include <algorithm>
#include <chrono>

#include "link/hand_over.h"
#include "link/line_settings.h"
#include "link/telegram_log.h"

namespace zentrok {

TCommThread::TCommThread() : sendAck_([this] { SendAck(); }), setMsgReady_([this] { SetMsgReady(); }) {
    context_.Clock = platform::UtcNow;
}

TCommThread::~TCommThread() {
    if (thread_.joinable()) Stop();
}

bool TCommThread::Open(std::int32_t portNumber, std::int32_t recNumber) {
    trace_ = Trace::ForPort(portNumber);
    platform::OpenError why;
    auto device = platform::SerialPort::Open(portNumber, trace_.On() ? &why : nullptr);
    if (!device) {
        trace_.NotOpened(platform::SerialPort::DeviceName(portNumber), why);
        return false;
    }
    const platform::PortSetup setup = ReadPortSetup(recNumber);
    const platform::ConfigureResult configured = device->Configure(setup);
    if (trace_.On()) trace_.Opened(platform::SerialPort::DeviceName(portNumber), recNumber, setup.Line, configured);
    PortHandle = std::make_unique<FramedPort>(std::move(device), setup.Line.EvtChar);
    decoder_.ClearChannelMemory();
    return true;
}

void TCommThread::Start() {
    thread_ = std::thread([this] { ReaderLoop(); });
}

void TCommThread::Stop() {
    const auto start = std::chrono::steady_clock::now();
    StopEvent.Set();
    if (!host_thread::IsHostThread()) host_thread::Cancel(setMsgReady_);
    host_thread::RunQueuedUntil(ended_);
    thread_.join();
    if (trace_.On())
        trace_.Closed(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

void TCommThread::ReaderLoop() {
    PortHandle->ArmEndWait();
    while (ServeOnce()) {
    }
    PortHandle.reset();  // closing the port ends the armed wait
    ended_.Set();
}

// One wait and what it brings; false once the stop has come. A failure
// (out of memory while logging or decoding) costs the telegram at hand, not
// the host process: the hand-off is ended, the input discarded, and the
// reader waits for the next telegram.
bool TCommThread::ServeOnce() {
    try {
        switch (PortHandle->WaitForEndOr(StopEvent, kIdleWaitMs)) {
            case FramedPort::Wake::Stop: return false;
            case FramedPort::Wake::EndCharacter:
                ReceiveTelegram();
                PortHandle->ArmEndWait();
                break;
            case FramedPort::Wake::TimedOut:
                CheckLine();  // the armed wait stays outstanding
                break;
        }
    } catch (...) {
        handOff_.Withdraw();
        PortHandle->PurgeInput();
        PortHandle->ArmEndWait();
    }
    return true;
}

void TCommThread::ReceiveTelegram() {
    const QueueStatus status = PortHandle->TakeQueueStatus();
    if (trace_.On() && (status.Overflowed || status.Line.Any())) trace_.LineTrouble(status, true);
    const std::uint32_t count = std::min(status.InQueue, kMaxReadBytes);
    ShortString<255>& telegram = context_.Telegram;
    PortHandle->Read(telegram.Chars, count);
    // The last byte read, normally the end character, is not part of it.
    telegram.Length = static_cast<std::uint8_t>(count <= 1 ? 0 : count - 1);
    PortHandle->PurgeInput();
    if (telegram.Empty()) return;

    std::string logFailure;
    if (!AppendTelegramLog(telegram.View(), platform::LocalNow, trace_.On() ? &logFailure : nullptr))
        trace_.LogNotWritten(logFailure);
    if (trace_.On()) tracedTelegram_ = telegram.View();  // decoding may shorten it in place
    const Handed handed = HandOverTelegram(
        decoder_, context_, handOff_, sendAck_, [this] { return host_thread::Run(setMsgReady_); },
        [this] { return handOff_.WaitTaken(kHandOffWaitMs); });
    if (handed == Handed::NotTaken && trace_.On()) trace_.Withdrawn(tracedTelegram_, StopEvent.Wait(0));
}

// Input lost on the way (the device's queue or this port's own overflowed)
// may have joined the ends of two telegrams: what has arrived is discarded.
void TCommThread::CheckLine() {
    const QueueStatus status = PortHandle->TakeQueueStatus();
    const bool purge = status.Overflowed || status.Line.LostInput();
    if (purge) PortHandle->PurgeInput();
    if (!trace_.On()) return;
    if (status.Overflowed || status.Line.Any()) trace_.LineTrouble(status, purge);
    if (!goneTraced_ && PortHandle->DeviceGone()) {
        trace_.DeviceGone();
        goneTraced_ = true;
    }
}

void TCommThread::SendAck() { PortHandle->WriteByte(kAck); }

void TCommThread::SetMsgReady() { handOff_.Announce(decoder_); }

}  // namespace zentrok
