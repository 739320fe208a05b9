// Serial ports through the Windows communications API, opened for
// overlapped I/O.
//
// The reader sleeps in an overlapped read of one byte. With every read
// time-out 0 (as the port is configured) such a read completes only when its
// byte has arrived, by the documented COMMTIMEOUTS rules, and Wine does the
// same. The bytes queued behind it are then taken with the documented
// "return at once with what has arrived" time-outs (MAXDWORD, 0, 0), set
// only while no read is outstanding and put back before the next one-byte
// read. That costs two SetCommTimeouts per telegram, which every driver
// handles at once, but the fetch needs no ClearCommError (the reader makes
// one per telegram, for the line errors) and no read that goes pending:
// under Wine a read of bytes already queued goes pending anyway with
// all-zero time-outs, while an immediate read returns them in one request.
// No serial event is waited for: Wine does not emulate the end-character
// event (EV_RXFLAG), and on some devices every WaitCommEvent fails at once,
// which would leave a reader waiting on it spinning.
//
// Line errors stay with the driver until ClearCommError reads and clears
// them (the port is configured without fAbortOnError, so they stop no
// read); TakeLineErrors does that and collects them.
//
// Every operation that may still be in progress when its call returns has
// an OVERLAPPED and data that live until it has completed. An immediate
// read that goes pending after all (a redirector that estimates what has
// arrived) is collected when it completes, its bytes kept. A failed read
// makes the next wait sleep out its time-out, so a device that fails every
// read (an unplugged adapter) costs one attempt per wait, not a busy loop.
// No operation posts a completion packet: the low bit of each OVERLAPPED's
// event tells the system so, as the port has no completion port anyway.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/port_names.h"
#include "platform/win32/system_error.h"

namespace zentrok::platform {
namespace {

// The DCB's flag word: the 32 bits of bit fields right after BaudRate.
constexpr std::size_t kFlagWordOffset = offsetof(DCB, BaudRate) + sizeof(DWORD);
static_assert(kFlagWordOffset + sizeof(std::uint32_t) == offsetof(DCB, wReserved), "DCB flag word is 32 bits");

// How long closing the port waits for its operations to end.
constexpr DWORD kCloseLimitMs = 1000;
// ACKs that the line has not taken yet (flow control holding it, no write
// time-out) keep their records; beyond this many a new ACK is dropped, as
// the device is not taking the earlier ones either.
constexpr std::size_t kMaxWriteRecords = 8;

// One overlapped operation: its OVERLAPPED, completion event and data stay
// put until it has completed.
struct Operation {
    OVERLAPPED overlapped{};
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool pending = false;

    ~Operation() { CloseHandle(done); }

    OVERLAPPED* Begin() {
        overlapped = OVERLAPPED{};
        // The call that starts the operation resets the event. The low bit
        // set: no completion packet is queued for it.
        overlapped.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<std::uintptr_t>(done) | 1);
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
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH: return OpenFailure::Missing;
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY: return OpenFailure::InUse;
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

// Sleeps until the stop or `operation` completes; a stop goes first.
SerialPort::Wake SleepOn(HANDLE stop, const Operation& operation, DWORD timeoutMs) {
    // When both are signalled the wait reports the lower index.
    const HANDLE events[2] = {stop, operation.done};
    switch (WaitForMultipleObjects(2, events, FALSE, timeoutMs)) {
        case WAIT_OBJECT_0: return SerialPort::Wake::Stop;
        case WAIT_OBJECT_0 + 1: return SerialPort::Wake::Input;
        case WAIT_TIMEOUT: return SerialPort::Wake::TimedOut;
        default: return SleepOut(stop, timeoutMs);
    }
}

}  // namespace

struct SerialPort::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;

    // The one-byte read the reader sleeps in, and the byte it brought.
    Operation wake;
    char wakeByte = 0;
    bool wakeByteHeld = false;
    bool readFailed = false;  // the next wait sleeps out its time-out

    // The read of what has arrived behind the first byte; `drained` once it
    // brought less than it asked for, until the next wait.
    Operation fetch;
    char fetched[1024] = {};
    bool drained = false;

    // The port's time-outs as configured, and the same with the read
    // returning at once; learnt at the first read.
    COMMTIMEOUTS sleeping{};
    COMMTIMEOUTS immediate{};
    bool timeoutsKnown = false;
    bool immediateSet = false;

    DWORD lineErrors = 0;  // CE_ bits collected since the last TakeLineErrors

    std::vector<std::unique_ptr<WriteRecord>> writes;

    // Notices a completed one-byte read.
    void CollectWake() {
        if (!wake.pending || wake.Busy()) return;
        DWORD transferred = 0;
        wakeByteHeld = wake.Finish(handle, transferred) && transferred == 1;
        readFailed = !wakeByteHeld;
    }

    // Sets the read time-outs for a read that returns at once or for the
    // one-byte read that sleeps; false when the port would not take them.
    bool UseTimeouts(bool immediateRead) {
        if (!timeoutsKnown) {
            if (!GetCommTimeouts(handle, &sleeping)) return false;
            immediate = sleeping;
            immediate.ReadIntervalTimeout = MAXDWORD;
            immediate.ReadTotalTimeoutMultiplier = 0;
            immediate.ReadTotalTimeoutConstant = 0;
            timeoutsKnown = true;
        }
        if (immediateSet != immediateRead && SetCommTimeouts(handle, immediateRead ? &immediate : &sleeping))
            immediateSet = immediateRead;
        return immediateSet == immediateRead;
    }

    void StartWakeRead() {
        UseTimeouts(false);
        drained = false;
        const BOOL completed = ReadFile(handle, &wakeByte, 1, nullptr, wake.Begin());
        if (!wake.Started(completed)) {
            readFailed = true;
        } else if (completed) {
            wake.pending = true;  // finished at once: collected like any other
            CollectWake();
        }
    }

    // Takes up to `size` bytes of what has arrived into `fetched`.
    DWORD Fetch(DWORD size) {
        if (fetch.pending) return CollectFetch();
        if (drained) return 0;
        // A port that keeps its time-outs gets a read of exactly what it
        // says has arrived, which completes without waiting for more.
        if (!UseTimeouts(true)) {
            DWORD errors = 0;
            COMSTAT queues{};
            if (!ClearCommError(handle, &errors, &queues)) return 0;
            lineErrors |= errors;
            if (queues.cbInQue < size) size = queues.cbInQue;
            if (size == 0) return 0;
        }
        const BOOL completed = ReadFile(handle, fetched, size, nullptr, fetch.Begin());
        if (!fetch.Started(completed)) return 0;
        const DWORD got = CollectFetch();
        drained = !fetch.pending && got < size;
        return got;
    }

    // The bytes of a fetch that has completed; 0 while it is still busy.
    DWORD CollectFetch() {
        if (fetch.Busy()) return 0;
        DWORD transferred = 0;
        fetch.Finish(handle, transferred);  // a failed read still reports what it moved
        return transferred;
    }

    LineErrors TakeErrors() {
        DWORD errors = 0;
        COMSTAT queues{};
        if (ClearCommError(handle, &errors, &queues)) lineErrors |= errors;
        LineErrors taken;
        taken.Overrun = (lineErrors & CE_OVERRUN) != 0;
        taken.QueueOverflow = (lineErrors & CE_RXOVER) != 0;
        taken.Framing = (lineErrors & CE_FRAME) != 0;
        taken.Parity = (lineErrors & CE_RXPARITY) != 0;
        taken.Break = (lineErrors & CE_BREAK) != 0;
        lineErrors = 0;
        return taken;
    }

    // A free record, or null when every one of the most allowed is busy.
    WriteRecord* FreeWriteRecord() {
        for (const auto& write : writes)
            if (!write->operation.Busy()) return write.get();
        if (writes.size() >= kMaxWriteRecords) return nullptr;
        writes.push_back(std::make_unique<WriteRecord>());
        return writes.back().get();
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

std::string SerialPort::DeviceName(std::int32_t number) { return win32::PortDevicePath(number); }

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
    // A fetch still outstanding is waited for: its bytes come next.
    if (port.fetch.pending) return port.fetch.Busy() ? SleepOn(stopEvent, port.fetch, timeoutMs) : Wake::Input;

    port.CollectWake();
    if (!port.wakeByteHeld && !port.wake.pending && !port.readFailed) port.StartWakeRead();
    if (port.wakeByteHeld) return stop.Wait(0) ? Wake::Stop : Wake::Input;
    if (!port.wake.pending) {
        port.readFailed = false;  // the next wait tries again
        return SleepOut(stopEvent, timeoutMs);
    }

    // A look without sleeping (a telegram is at hand) needs no system call.
    if (timeoutMs == 0) return stop.Wait(0) ? Wake::Stop : Wake::TimedOut;
    const DWORD start = GetTickCount();
    const Wake wake = SleepOn(stopEvent, port.wake, timeoutMs);
    if (wake != Wake::Input) return wake;
    port.CollectWake();
    if (port.wakeByteHeld) return Wake::Input;
    port.readFailed = false;
    const DWORD elapsed = GetTickCount() - start;
    return SleepOut(stopEvent, elapsed < timeoutMs ? timeoutMs - elapsed : 0);
}

std::size_t SerialPort::TakeArrived(char* dest, std::size_t size) {
    Impl& port = *impl_;
    if (size == 0) return 0;
    std::size_t taken = 0;
    if (!port.fetch.pending) {
        port.CollectWake();
        if (port.wakeByteHeld) {
            dest[taken++] = port.wakeByte;
            port.wakeByteHeld = false;
        }
        // While the one-byte read is pending, the next byte that arrives is its.
        if (port.wake.pending || taken == size) return taken;
    }
    std::size_t count = size - taken;
    if (count > sizeof port.fetched) count = sizeof port.fetched;
    const DWORD fetched = port.Fetch(static_cast<DWORD>(count));
    std::memcpy(dest + taken, port.fetched, fetched);
    return taken + fetched;
}

LineErrors SerialPort::TakeLineErrors() { return impl_->TakeErrors(); }

void SerialPort::DiscardInput() {
    Impl& port = *impl_;
    port.CollectWake();
    port.wakeByteHeld = false;
    // PURGE_RXCLEAR ends no read: a fetch still outstanding may be waiting
    // for bytes that arrive after the discard, so what it brings is kept.
    PurgeComm(port.handle, PURGE_RXCLEAR);
}

// GetCommState clears nothing, so it leaves the line errors to the reader;
// it fails once the device behind the handle has gone.
bool SerialPort::DeviceGone() {
    DCB line{};
    line.DCBlength = sizeof line;
    return !GetCommState(impl_->handle, &line);
}

void SerialPort::WriteByte(char byte) {
    Impl& port = *impl_;
    WriteRecord* write = port.FreeWriteRecord();
    if (!write) return;
    write->byte = byte;
    write->operation.Started(WriteFile(port.handle, &write->byte, 1, nullptr, write->operation.Begin()));
}

}  // namespace zentrok::platform
