// Serial ports through the Windows communications API, opened for
// overlapped I/O. Every operation that may still be in progress when its call
// returns has an OVERLAPPED (and data) that lives until it has completed.
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zentrok::platform {
namespace {

// The DCB's flag word: the 32 bits of bit fields right after BaudRate.
constexpr std::size_t kFlagWordOffset = offsetof(DCB, BaudRate) + sizeof(DWORD);
static_assert(kFlagWordOffset + sizeof(std::uint32_t) == offsetof(DCB, wReserved), "DCB flag word is 32 bits");

HANDLE NewEvent() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }

// True when the call that started an overlapped operation left it running.
bool StartedPending(BOOL completedAtOnce) { return !completedAtOnce && GetLastError() == ERROR_IO_PENDING; }

// One ACK write: its byte and OVERLAPPED stay put until the write is done.
struct WriteRecord {
    OVERLAPPED overlapped{};
    HANDLE done = NewEvent();
    char byte = 0;
    bool pending = false;

    ~WriteRecord() { CloseHandle(done); }
    bool Busy() const { return pending && !HasOverlappedIoCompleted(&overlapped); }
};

}  // namespace

struct SerialPort::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;

    // The end-character wait: its event is set when the wait completes.
    OVERLAPPED waitOverlapped{};
    HANDLE waitDone = NewEvent();
    DWORD eventMask = 0;
    bool waitPending = false;

    OVERLAPPED readOverlapped{};
    HANDLE readDone = NewEvent();

    // Writes are never awaited, so a write that the line does not take (flow
    // control holding it) keeps its record; a new write then gets another.
    std::vector<std::unique_ptr<WriteRecord>> writes;

    // Every operation was started by the reader thread, which also closes
    // the port, so CancelIo reaches them all.
    ~Impl() {
        CancelIo(handle);
        if (waitPending) AwaitCompletion(waitOverlapped);
        for (const auto& write : writes)
            if (write->pending) AwaitCompletion(write->overlapped);
        CloseHandle(handle);
        CloseHandle(waitDone);
        CloseHandle(readDone);
    }

    void AwaitCompletion(OVERLAPPED& overlapped) {
        DWORD transferred = 0;
        GetOverlappedResult(handle, &overlapped, &transferred, TRUE);
    }

    WriteRecord& FreeWriteRecord() {
        for (const auto& write : writes)
            if (!write->Busy()) return *write;
        writes.push_back(std::make_unique<WriteRecord>());
        return *writes.back();
    }
};

std::unique_ptr<SerialPort> SerialPort::Open(std::int32_t number) {
    const std::string name = "\\\\.\\COM" + std::to_string(number);
    const HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->handle = handle;
    return std::unique_ptr<SerialPort>(new SerialPort(std::move(impl)));
}

SerialPort::SerialPort(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

SerialPort::~SerialPort() = default;

void SerialPort::Configure(const PortSetup& setup) {
    const HANDLE handle = impl_->handle;
    SetupComm(handle, setup.InQueue, setup.OutQueue);

    DCB line{};
    line.DCBlength = sizeof line;
    GetCommState(handle, &line);
    line.BaudRate = setup.Line.BaudRate;
    line.ByteSize = setup.Line.ByteSize;
    line.Parity = setup.Line.Parity;
    line.StopBits = setup.Line.StopBits;
    std::memcpy(reinterpret_cast<char*>(&line) + kFlagWordOffset, &setup.Line.Flags, sizeof setup.Line.Flags);
    line.EvtChar = setup.Line.EvtChar;
    SetCommState(handle, &line);

    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = setup.ReadIntervalTimeout;
    timeouts.ReadTotalTimeoutMultiplier = setup.ReadTotalTimeoutMultiplier;
    timeouts.ReadTotalTimeoutConstant = setup.ReadTotalTimeoutConstant;
    timeouts.WriteTotalTimeoutMultiplier = setup.WriteTotalTimeoutMultiplier;
    timeouts.WriteTotalTimeoutConstant = setup.WriteTotalTimeoutConstant;
    SetCommTimeouts(handle, &timeouts);
}

void SerialPort::WatchEventCharacter() { SetCommMask(impl_->handle, EV_RXFLAG); }

void SerialPort::ArmEventWait() {
    Impl& port = *impl_;
    port.waitOverlapped = OVERLAPPED{};
    port.waitOverlapped.hEvent = port.waitDone;
    ResetEvent(port.waitDone);
    const BOOL completed = WaitCommEvent(port.handle, &port.eventMask, &port.waitOverlapped);
    port.waitPending = StartedPending(completed);
    if (completed) SetEvent(port.waitDone);
}

// When both are signalled the wait reports the lower index: a stop goes first.
SerialPort::Wake SerialPort::WaitForEventOr(Event& stop, std::uint32_t timeoutMs) {
    const HANDLE events[2] = {reinterpret_cast<HANDLE>(stop.Native()), impl_->waitDone};
    switch (WaitForMultipleObjects(2, events, FALSE, timeoutMs)) {
        case WAIT_OBJECT_0: return Wake::Stop;
        case WAIT_OBJECT_0 + 1: return Wake::EventCharacter;
        default: return Wake::TimedOut;
    }
}

QueueStatus SerialPort::ClearErrors() {
    DWORD errors = 0;
    COMSTAT queues{};
    ClearCommError(impl_->handle, &errors, &queues);
    QueueStatus status;
    status.Errors = (errors & CE_RXOVER) ? kInputOverflow : 0;
    status.InQueue = queues.cbInQue;
    return status;
}

// The bytes are already queued, so the read completes at once; it is still
// awaited, so that `dest` is filled before anyone looks at it.
void SerialPort::Read(char* dest, std::uint32_t count) {
    std::memset(dest, 0, count);
    if (count == 0) return;
    Impl& port = *impl_;
    port.readOverlapped = OVERLAPPED{};
    port.readOverlapped.hEvent = port.readDone;
    if (StartedPending(ReadFile(port.handle, dest, count, nullptr, &port.readOverlapped)))
        port.AwaitCompletion(port.readOverlapped);
}

void SerialPort::PurgeInput() { PurgeComm(impl_->handle, PURGE_RXCLEAR); }

void SerialPort::WriteByte(char byte) {
    Impl& port = *impl_;
    WriteRecord& write = port.FreeWriteRecord();
    write.byte = byte;
    write.overlapped = OVERLAPPED{};
    write.overlapped.hEvent = write.done;
    write.pending = StartedPending(WriteFile(port.handle, &write.byte, 1, nullptr, &write.overlapped));
}

}  // namespace zentrok::platform
