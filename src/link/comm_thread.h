// The reader of one open port: frames telegrams at the end character, logs
// and decodes them, hands messages to the host and acknowledges them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "decode/decoder_state.h"
#include "decode/telegram_decoder.h"
#include "link/framed_port.h"
#include "link/hand_off.h"
#include "link/host_thread.h"
#include "link/protocol.h"
#include "link/trace.h"
#include "platform/platform.h"

namespace zentrok {

class TCommThread {
public:
    TCommThread();
    ~TCommThread();
    TCommThread(const TCommThread&) = delete;
    TCommThread& operator=(const TCommThread&) = delete;

    // Opens port `portNumber` with the settings of section `recNumber` and
    // clears the channel memory. False when the port cannot be opened. The
    // trace, if ZENTROK_TRACE asks for one, starts here.
    bool Open(std::int32_t portNumber, std::int32_t recNumber);

    // Starts the reader thread.
    void Start();

    // Asks the reader to stop and waits until it has ended, running queued
    // host-thread calls meanwhile. Off the host thread this port's pending
    // hand-off is withdrawn so that the reader can end at once.
    void Stop();

    // The next message or queued entry for the host.
    bool GetMsg(QenMsg& dest) { return handOff_.Deliver(dest); }

private:
    void ReaderLoop();
    bool ServeOnce();
    void ReceiveTelegram();
    void CheckLine();
    void SendAck();
    void SetMsgReady();

    std::unique_ptr<FramedPort> PortHandle;
    platform::Event StopEvent{platform::Event::Mode::ManualReset};
    HandOff handOff_;
    DecoderState decoder_;
    DecodeContext context_;
    SendAckFn sendAck_;
    platform::Event ended_{platform::Event::Mode::ManualReset};
    host_thread::Call setMsgReady_;
    Trace trace_;
    std::string tracedTelegram_;  // as received, while tracing
    bool goneTraced_ = false;
    std::thread thread_;
};

}  // namespace zentrok
