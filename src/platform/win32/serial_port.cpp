// Serial ports through the Windows communications API, opened for
// overlapped I/O.
//
// The reader sleeps in an overlapped read of one byte. With every read
// time-out 0 (as the port is configured) such a read completes only when its
// byte has arrived, by the documented COMMTIMEOUTS rules, and Wine does the
// same. The bytes queued behind it are then fetched with a read of exactly
// the count that ClearCommError reports, which completes at once. No serial
// event is waited for: Wine does not emulate the end-character event
// (EV_RXFLAG), and on some devices every WaitCommEvent fails at once, which
// would leave a reader waiting on it spinning.
//
// Every operation that may still be in progress when its call returns has
// an OVERLAPPED and data that live until it has completed. A failed read
// makes the next wait sleep out its time-out, so a device that fails every
// read (an unplugged adapter) costs one attempt per wait, not a busy loop.
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/system_error.h"

namespace zentrok::platform {
namespace {

// The DCB's flag word: the 32 bits of bit fields right after BaudRate.
constexpr std::size_t kFlagWordOffset = offsetof(DCB, BaudRate) + sizeof(DWORD);
static_assert(kFlagWordOffset + sizeof(std::uint32_t) == offsetof(DCB, wReserved), "DCB flag word is 32 bits");

// A fetch reads bytes that are already queued, so it completes at once; a
// device that says otherwise gets this long before the fetch is cancelled.
constexpr DWORD kFetchLimitMs = 500;
// How long closing the port waits for its operations to end.
constexpr DWORD kCloseLimitMs = 1000;

// One overlapped operation: its OVERLAPPED, completion event and data stay
// put until it has completed.
struct Operation {
    OVERLAPPED overlapped{};
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool pending = false;

    ~Operation() { CloseHandle(done); }

    OVERLAPPED* Begin() {
        overlapped = OVERLAPPED{};
        overlapped.hEvent = done;
        return &overlapped;
    }

    // Records how the call that started the operation returned; false when
    // it failed outright.
    bool Started(BOOL completedAtOnce) {
        pending = !completedAtOnce && GetLastError() == ERROR_IO_PENDING;
        return completedAtOnce || pending;
    }

    bool Busy() const { return pending && !HasOverlappedIoCompleted(&overlapped); }

    // The bytes it moved, once it is no longer busy; false when it failed.
    bool Finish(HANDLE file, DWORD& transferred) {
        pending = false;
        transferred = 0;
        return GetOverlappedResult(file, &overlapped, &transferred, FALSE) != 0;
    }
};

OpenFailure FailureOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_BAD_NETPATH: return OpenFailure::Missing;
        case ERROR_SHARING_VIOLATION: case ERROR_BUSY: return OpenFailure::InUse;
        // Windows also answers this for a port that another program holds.
        case ERROR_ACCESS_DENIED: return OpenFailure::AccessDenied;
        default: return OpenFailure::Other;
    }
}

// Adds "<call>: <reason>" for a call that failed.
void Check(BOOL succeeded, const char* call, std::string& failures) {
    if (succeeded) return;
    failures += (failures.empty() ? "" : "; ") + std::string(call) + ": " + SystemErrorText(GetLastError());
}

LineSettings LineOf(const DCB& dcb) {
    LineSettings line;
    line.BaudRate = dcb.BaudRate;
    line.ByteSize = dcb.ByteSize;
    line.Parity = dcb.Parity;
    line.StopBits = dcb.StopBits;
    std::memcpy(&line.Flags, reinterpret_cast<const char*>(&dcb) + kFlagWordOffset, sizeof line.Flags);
    line.EvtChar = dcb.EvtChar;
    return line;
}

struct WriteRecord {
    Operation operation;
    char byte = 0;
};

// Sleeps on the stop alone; a stop that cannot be waited on still costs the
// whole time-out rather than a spin.
SerialPort::Wake SleepOut(HANDLE stop, DWORD timeoutMs) {
    const DWORD result = WaitForSingleObject(stop, timeoutMs);
    if (result == WAIT_OBJECT_0) return SerialPort::Wake::Stop;
    if (result == WAIT_FAILED) Sleep(timeoutMs);
    return SerialPort::Wake::TimedOut;
}

}  // namespace

struct SerialPort::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;

    // The one-byte read the reader sleeps in, and the byte it brought.
    Operation wake;
    char wakeByte = 0;
    bool wakeByteHeld = false;
    bool readFailed = false;  // the next wait sleeps out its time-out

    // Reads of bytes already queued behind the first one.
    Operation fetch;
    char fetched[1024] = {};

    // Writes are never awaited, so a write that the line does not take (flow
    // control holding it) keeps its record; a new write then gets another.
    std::vector<std::unique_ptr<WriteRecord>> writes;

    // Notices a completed one-byte read.
    void CollectWake() {
        if (!wake.pending || wake.Busy()) return;
        DWORD transferred = 0;
        wakeByteHeld = wake.Finish(handle, transferred) && transferred == 1;
        readFailed = !wakeByteHeld;
    }

    void StartWakeRead() {
        const BOOL completed = ReadFile(handle, &wakeByte, 1, nullptr, wake.Begin());
        if (!wake.Started(completed)) {
            readFailed = true;
        } else if (completed) {
            wake.pending = true;  // finished at once: collected like any other
            CollectWake();
        }
    }

    // Reads `count` queued bytes into `fetched`; returns how many came.
    DWORD Fetch(DWORD count) {
        const BOOL completed = ReadFile(handle, fetched, count, nullptr, fetch.Begin());
        if (!fetch.Started(completed)) return 0;
        if (!completed && WaitForSingleObject(fetch.done, kFetchLimitMs) != WAIT_OBJECT_0) {
            CancelIoEx(handle, &fetch.overlapped);
            if (WaitForSingleObject(fetch.done, kFetchLimitMs) != WAIT_OBJECT_0) return 0;  // stays pending
        }
        DWORD transferred = 0;
        fetch.Finish(handle, transferred);  // a cancelled fetch still reports what it moved
        return transferred;
    }

    WriteRecord& FreeWriteRecord() {
        for (const auto& write : writes)
            if (!write->operation.Busy()) return *write;
        writes.push_back(std::make_unique<WriteRecord>());
        return *writes.back();
    }

    // Closes the port, which ends every operation still in progress, and
    // waits a bounded time for them. False when one is still running: its
    // memory must then outlive the port.
    bool Close() {
        CancelIoEx(handle, nullptr);
        CloseHandle(handle);
        std::vector<HANDLE> running;
        for (Operation* operation : {&wake, &fetch})
            if (operation->Busy()) running.push_back(operation->done);
        for (const auto& write : writes)
            if (write->operation.Busy()) running.push_back(write->operation.done);
        const DWORD start = GetTickCount();
        for (HANDLE done : running) {
            const DWORD elapsed = GetTickCount() - start;
            if (WaitForSingleObject(done, elapsed < kCloseLimitMs ? kCloseLimitMs - elapsed : 0) != WAIT_OBJECT_0)
                return false;
        }
        return true;
    }
};

std::string SerialPort::DeviceName(std::int32_t number) { return "\\\\.\\COM" + std::to_string(number); }

std::unique_ptr<SerialPort> SerialPort::Open(std::int32_t number, OpenError* why) {
    const std::string name = DeviceName(number);
    const HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (why) *why = OpenError{FailureOf(error), error, SystemErrorText(error)};
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->handle = handle;
    return std::unique_ptr<SerialPort>(new SerialPort(std::move(impl)));
}

SerialPort::SerialPort(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

// An operation the system never ended may still write into the port's
// records, so they are left in place rather than freed under it.
SerialPort::~SerialPort() {
    if (!impl_->Close()) impl_.release();
}

ConfigureResult SerialPort::Configure(const PortSetup& setup) {
    const HANDLE handle = impl_->handle;
    ConfigureResult result;
    Check(SetupComm(handle, setup.InQueue, setup.OutQueue), "SetupComm", result.FailedCalls);

    DCB line{};
    line.DCBlength = sizeof line;
    Check(GetCommState(handle, &line), "GetCommState", result.FailedCalls);
    line.BaudRate = setup.Line.BaudRate;
    line.ByteSize = setup.Line.ByteSize;
    line.Parity = setup.Line.Parity;
    line.StopBits = setup.Line.StopBits;
    std::memcpy(reinterpret_cast<char*>(&line) + kFlagWordOffset, &setup.Line.Flags, sizeof setup.Line.Flags);
    line.EvtChar = setup.Line.EvtChar;
    Check(SetCommState(handle, &line), "SetCommState", result.FailedCalls);

    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = setup.ReadIntervalTimeout;
    timeouts.ReadTotalTimeoutMultiplier = setup.ReadTotalTimeoutMultiplier;
    timeouts.ReadTotalTimeoutConstant = setup.ReadTotalTimeoutConstant;
    timeouts.WriteTotalTimeoutMultiplier = setup.WriteTotalTimeoutMultiplier;
    timeouts.WriteTotalTimeoutConstant = setup.WriteTotalTimeoutConstant;
    Check(SetCommTimeouts(handle, &timeouts), "SetCommTimeouts", result.FailedCalls);

    DCB now{};
    now.DCBlength = sizeof now;
    result.ReadBack = GetCommState(handle, &now) != 0;
    if (result.ReadBack) result.Reported = LineOf(now);
    return result;
}

SerialPort::Wake SerialPort::WaitForInput(Event& stop, std::uint32_t timeoutMs) {
    Impl& port = *impl_;
    const HANDLE stopEvent = reinterpret_cast<HANDLE>(stop.Native());
    if (port.fetch.pending) return SleepOut(stopEvent, timeoutMs);  // a fetch the device never ended

    port.CollectWake();
    if (!port.wakeByteHeld && !port.wake.pending && !port.readFailed) port.StartWakeRead();
    if (port.wakeByteHeld) return WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0 ? Wake::Stop : Wake::Input;
    if (!port.wake.pending) {
        port.readFailed = false;  // the next wait tries again
        return SleepOut(stopEvent, timeoutMs);
    }

    const DWORD start = GetTickCount();
    // When both are signalled the wait reports the lower index: a stop goes first.
    const HANDLE events[2] = {stopEvent, port.wake.done};
    switch (WaitForMultipleObjects(2, events, FALSE, timeoutMs)) {
        case WAIT_OBJECT_0:
            return Wake::Stop;
        case WAIT_OBJECT_0 + 1: {
            port.CollectWake();
            if (port.wakeByteHeld) return Wake::Input;
            port.readFailed = false;
            const DWORD elapsed = GetTickCount() - start;
            return SleepOut(stopEvent, elapsed < timeoutMs ? timeoutMs - elapsed : 0);
        }
        case WAIT_TIMEOUT:
            return Wake::TimedOut;
        default:
            return SleepOut(stopEvent, timeoutMs);
    }
}

std::size_t SerialPort::TakeArrived(char* dest, std::size_t size) {
    Impl& port = *impl_;
    if (size == 0 || port.fetch.pending) return 0;
    port.CollectWake();
    std::size_t taken = 0;
    if (port.wakeByteHeld) {
        dest[taken++] = port.wakeByte;
        port.wakeByteHeld = false;
    }
    // While the one-byte read is pending, the next byte that arrives is its.
    if (port.wake.pending || taken == size) return taken;

    DWORD errors = 0;
    COMSTAT queues{};
    if (!ClearCommError(port.handle, &errors, &queues) || queues.cbInQue == 0) return taken;
    std::size_t count = queues.cbInQue;
    if (count > size - taken) count = size - taken;
    if (count > sizeof port.fetched) count = sizeof port.fetched;
    const DWORD fetched = port.Fetch(static_cast<DWORD>(count));
    std::memcpy(dest + taken, port.fetched, fetched);
    return taken + fetched;
}

void SerialPort::DiscardInput() {
    Impl& port = *impl_;
    port.CollectWake();
    port.wakeByteHeld = false;
    PurgeComm(port.handle, PURGE_RXCLEAR);
}

// Line errors are not collected yet: ClearCommError's report is taken by the
// fetch, which discards it.
LineErrors SerialPort::TakeLineErrors() { return {}; }

// GetCommState clears nothing, so it leaves the line errors to the reader;
// it fails once the device behind the handle has gone.
bool SerialPort::DeviceGone() {
    DCB line{};
    line.DCBlength = sizeof line;
    return !GetCommState(impl_->handle, &line);
}

void SerialPort::WriteByte(char byte) {
    Impl& port = *impl_;
    WriteRecord& write = port.FreeWriteRecord();
    write.byte = byte;
    write.operation.Started(WriteFile(port.handle, &write.byte, 1, nullptr, write.operation.Begin()));
}

}  // namespace zentrok::platform
