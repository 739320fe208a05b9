// The reader of one open port: frames telegrams at the end character, logs
// and decodes them, hands messages to the host and acknowledges them. When
// the device goes away it closes it and opens it again once it is back,
// while the port stays open for the host.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "decode/decoder_state.h"
#include "decode/telegram_decoder.h"
#include "link/device_return.h"
#include "link/framed_port.h"
#include "link/hand_off.h"
#include "link/host_thread.h"
#include "link/line_status.h"
#include "link/protocol.h"
#include "link/trace.h"
#include "platform/platform.h"

namespace zentrok {

// How long a close waits for the reader beyond the stop request, or beyond
// the end of a hand-off wait in progress: the reader is then stuck in the
// system (a close of a removed device that does not return) or cannot end
// (its thread's exit needs a lock the closing thread holds, as in a DllMain).
inline constexpr std::uint32_t kCloseGraceMs = 3000;

class TCommThread {
public:
    TCommThread();
    TCommThread(const TCommThread&) = delete;
    TCommThread& operator=(const TCommThread&) = delete;

    // Opens port `portNumber` with the settings of section `recNumber` and
    // clears the channel memory. False when the port cannot be opened. The
    // trace, if ZENTROK_TRACE asks for one, starts here.
    bool Open(std::int32_t portNumber, std::int32_t recNumber);

    // Starts the reader thread; `closed` runs on it as its last act, once
    // the device is closed. False when no thread could be started.
    bool Start(std::function<void()> closed);

    // Asks the reader to stop and waits until it has ended, running queued
    // host-thread calls meanwhile. Off the host thread this port's pending
    // hand-off is withdrawn so that the reader can end at once. False when
    // the reader did not end within kCloseGraceMs: it then ends on its own,
    // and this object must stay alive for it.
    bool Stop();

    // The next message or queued entry for the host.
    bool GetMsg(QenMsg& dest) { return handOff_.Deliver(dest); }

    void GetLineState(QenLineState& state) const { status_.Fill(state); }

private:
    static void RunReader(void* self);
    void ReaderLoop();
    bool ServeOnce();
    void ReceiveTelegram();
    bool CheckLine();
    bool SystemSlept();
    bool AwaitDeviceBack(const std::string& seen);
    bool ReturnDevice();
    DeviceReturn Return() { return DeviceReturn(portNumber_, setup_, firstConfigured_, trace_, status_); }
    bool AwaitTaken();
    void SendAck();
    std::int64_t CloseDeadlineMs(std::int64_t stopAtMs) const;

    std::int32_t portNumber_ = 0;
    platform::PortSetup setup_;                  // kept for reopening the device
    platform::ConfigureResult firstConfigured_;  // what the first open made of them
    std::unique_ptr<FramedPort> PortHandle;
    platform::Event StopEvent{platform::Event::Mode::ManualReset};
    HandOff handOff_;
    DecoderState decoder_;
    DecodeContext context_;
    SendAckFn sendAck_;
    Announcement announcement_{handOff_, decoder_};
    LineStatus status_;
    Trace trace_;
    std::string tracedTelegram_;                  // as received, while tracing
    std::uint64_t sleptMs_ = 0;                   // the system's sleep at the last line check
    std::atomic<std::int64_t> handOffEndsMs_{0};  // steady clock; 0: no hand-off wait running
    std::function<void()> closed_;
    std::unique_ptr<platform::Thread> thread_;
};

}  // namespace zentrok
