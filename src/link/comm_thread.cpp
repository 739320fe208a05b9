#include "link/comm_thread.h"

#include <algorithm>
#include <chrono>

#include "link/hand_over.h"
#include "link/line_settings.h"
#include "link/telegram_log.h"

namespace zentrok {
namespace {

// A system that slept less than this has not slept: the two clocks behind
// platform::SleptMilliseconds are read a moment apart.
constexpr std::uint64_t kSleepNoticedMs = 1000;
// The close's wait looks this often whether the system ended the reader.
constexpr std::uint32_t kCloseLookMs = 100;

std::int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

TCommThread::TCommThread() : sendAck_([this] { SendAck(); }) { context_.Clock = platform::UtcNow; }

bool TCommThread::Open(std::int32_t portNumber, std::int32_t recNumber) {
    trace_ = Trace::ForPort(portNumber);
    platform::OpenError why;
    auto device = platform::SerialPort::Open(portNumber, trace_.On() ? &why : nullptr);
    if (!device) {
        trace_.NotOpened(platform::SerialPort::DeviceName(portNumber), why);
        return false;
    }
    portNumber_ = portNumber;
    setup_ = ReadPortSetup(recNumber);
    firstConfigured_ = device->Configure(setup_);
    status_.DeviceOpened(firstConfigured_);
    if (trace_.On())
        trace_.Opened(platform::SerialPort::DeviceName(portNumber), recNumber, setup_.Line, firstConfigured_);
    PortHandle = std::make_unique<FramedPort>(std::move(device), setup_.Line.EvtChar);
    decoder_.ClearChannelMemory();
    sleptMs_ = platform::SleptMilliseconds();
    return true;
}

bool TCommThread::Start(std::function<void()> closed) {
    closed_ = std::move(closed);
    thread_ = platform::Thread::Start(&TCommThread::RunReader, this);
    return thread_ != nullptr;
}

void TCommThread::RunReader(void* self) { static_cast<TCommThread*>(self)->ReaderLoop(); }

// Waits on the reader's end, not on its thread's: a thread's exit may need
// a lock the closing thread holds (the loader lock, in a DllMain).
bool TCommThread::Stop() {
    const std::int64_t start = SteadyMs();
    StopEvent.Set();
    if (!host_thread::IsHostThread()) host_thread::Cancel(announcement_);
    bool ended = false;
    while (!ended && SteadyMs() < CloseDeadlineMs(start)) {
        // The system may have ended the thread without its body returning
        // (process exit on Windows).
        ended = host_thread::RunQueuedUntil(thread_->BodyReturned(), kCloseLookMs) || thread_->WaitEnded(0);
    }
    const auto took = static_cast<std::uint64_t>(SteadyMs() - start);
    if (!ended) {
        trace_.CloseLeftReader(took);
        return false;
    }
    thread_->WaitEnded(0);
    trace_.Closed(took);
    return true;
}

// A close waits out a hand-off in progress, then a little for the reader.
std::int64_t TCommThread::CloseDeadlineMs(std::int64_t stopAtMs) const {
    return std::max(stopAtMs, handOffEndsMs_.load()) + kCloseGraceMs;
}

void TCommThread::ReaderLoop() {
    PortHandle->ArmEndWait();
    while (ServeOnce()) {
    }
    PortHandle.reset();  // closing the port ends the armed wait
    if (closed_) closed_();
}

// One wait and what it brings; false once the stop has come. A failure
// (out of memory while logging or decoding) costs the telegram at hand, not
// the host process: the hand-off is ended, the input discarded, and the
// reader waits for the next telegram.
bool TCommThread::ServeOnce() {
    try {
        if (!PortHandle->HasDevice()) return ReturnDevice();  // a failure while it was away
        switch (PortHandle->WaitForEndOr(StopEvent, kIdleWaitMs)) {
            case FramedPort::Wake::Stop: return false;
            case FramedPort::Wake::EndCharacter:
                ReceiveTelegram();
                PortHandle->ArmEndWait();
                break;
            case FramedPort::Wake::TimedOut: return CheckLine();  // the armed wait stays outstanding
            case FramedPort::Wake::DeviceGone: {
                std::string seen;
                PortHandle->DeviceGone(&seen);
                return AwaitDeviceBack(seen);
            }
        }
    } catch (...) {
        handOff_.Withdraw();
        if (PortHandle->HasDevice()) PortHandle->PurgeInput();
        PortHandle->ArmEndWait();
    }
    return true;
}

// A telegram whose bytes came with line errors may hold a wrong ident,
// channel or code: it is neither handed over nor acknowledged, so the device
// sends it again.
void TCommThread::ReceiveTelegram() {
    const QueueStatus status = PortHandle->TakeQueueStatus();
    const std::uint32_t count = std::min(status.InQueue, kMaxReadBytes);
    ShortString<255>& telegram = context_.Telegram;
    PortHandle->Read(telegram.Chars, count);
    // The last byte read, normally the end character, is not part of it.
    telegram.Length = static_cast<std::uint8_t>(count <= 1 ? 0 : count - 1);
    PortHandle->PurgeInput();
    const bool damaged = status.Overflowed || status.Line.Damaging();
    if (status.Overflowed || status.Line.Any()) {
        ++status_.LineErrors;
        if (!damaged || telegram.Empty()) trace_.LineTrouble(status, true);
    }
    if (telegram.Empty()) return;
    status_.TelegramArrived();
    if (damaged) {
        ++status_.DiscardedTelegrams;
        trace_.Discarded(telegram.View(), status);
        return;
    }

    std::string logFailure;
    if (!AppendTelegramLog(telegram.View(), platform::LocalNow, trace_.On() ? &logFailure : nullptr)) {
        ++status_.LogLinesNotWritten;
        trace_.LogNotWritten(logFailure);
    }
    if (trace_.On()) tracedTelegram_ = telegram.View();  // decoding may shorten it in place
    const Handed handed = HandOverTelegram(
        decoder_, context_, handOff_, sendAck_, [this] { return host_thread::Run(announcement_); },
        [this] { return AwaitTaken(); });
    if (handed != Handed::NotTaken) return;
    ++status_.Withdrawn;
    trace_.Withdrawn(tracedTelegram_, StopEvent.Wait(0));
}

bool TCommThread::AwaitTaken() {
    handOffEndsMs_ = SteadyMs() + kHandOffWaitMs;
    const bool taken = handOff_.WaitTaken(kHandOffWaitMs);
    handOffEndsMs_ = 0;
    return taken;
}

// The idle check. Input lost on the way (the device's queue or this port's
// own overflowed) may have joined the ends of two telegrams: what has
// arrived is discarded. Some devices tell that they have gone only when
// asked; a system that slept may have reset the device's settings.
bool TCommThread::CheckLine() {
    const QueueStatus status = PortHandle->TakeQueueStatus();
    const bool purge = status.Overflowed || status.Line.LostInput();
    if (purge) PortHandle->PurgeInput();
    if (status.Overflowed || status.Line.Any()) {
        ++status_.LineErrors;
        trace_.LineTrouble(status, purge);
    }
    std::string seen;
    if (PortHandle->DeviceGone(&seen)) return AwaitDeviceBack(seen);
    if (SystemSlept() && !Return().Reapply(PortHandle->Device(), seen))
        return AwaitDeviceBack("after the system slept, " + seen);
    return true;
}

bool TCommThread::SystemSlept() {
    const std::uint64_t slept = platform::SleptMilliseconds();
    if (slept < sleptMs_ + kSleepNoticedMs) return false;
    trace_.Resumed(slept - sleptMs_);
    sleptMs_ = slept;
    return true;
}

// The dead handle is closed at once: some drivers give the port's name to
// the device plugged in again only once every handle to the old one is
// closed. False when the port was closed while the device was away.
bool TCommThread::AwaitDeviceBack(const std::string& seen) {
    status_.DeviceWent();
    trace_.DeviceGone(seen);
    PortHandle->CloseDevice();
    return ReturnDevice();
}

bool TCommThread::ReturnDevice() {
    auto device = Return().Await(StopEvent);
    if (!device) return false;
    PortHandle->ReplaceDevice(std::move(device));
    PortHandle->ArmEndWait();
    return true;
}

void TCommThread::SendAck() {
    std::string whyNot;
    switch (PortHandle->WriteByte(kAck, trace_.On() ? &whyNot : nullptr)) {
        case platform::SerialPort::WriteOutcome::Queued: ++status_.AcksSent; return;
        case platform::SerialPort::WriteOutcome::Dropped:
            trace_.AckNotSent("earlier ACK bytes still wait on a line that flow control holds");
            return;
        case platform::SerialPort::WriteOutcome::Failed: trace_.AckNotSent(whyNot); return;
    }
}

}  // namespace zentrok
