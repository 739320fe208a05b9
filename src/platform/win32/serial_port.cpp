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
// A device that has gone (a USB adapter pulled, a hub that re-enumerated)
// leaves its handle open on a device the system has removed: every I/O call
// on it fails from then on, with a code that depends on the driver
// (ERROR_ACCESS_DENIED, ERROR_BAD_COMMAND, ERROR_GEN_FAILURE,
// ERROR_DEVICE_NOT_CONNECTED, ERROR_DEVICE_REMOVED, ERROR_OPERATION_ABORTED
// among those reported), and the handle never works again. The code alone
// does not tell it from a passing failure: drivers also abort a read with
// ERROR_OPERATION_ABORTED when the system suspends. So a failed ReadFile or
// WriteFile (also one that GetOverlappedResult reports failed, and a
// one-byte read that completes without its byte) is checked with
// ClearCommError on the same handle, which asks the driver for its status
// (IOCTL_SERIAL_GET_COMMSTATUS) without touching the line: when that fails
// too, whatever the code, the device has gone, and so has it when a
// ClearCommError of the line errors or of the idle check fails. The port
// then starts no more I/O on the handle and says it is gone; the link
// closes it and opens the device anew. Any other failure passes: the read
// is started again at once, then after a pause that doubles from
// kFirstRetryPauseMs to kMaxRetryPauseMs while it keeps failing, so a
// caller that loops on the wait never spins.
//
// Every operation that may still be in progress when its call returns has
// an OVERLAPPED and data that live until it has completed. An immediate
// read that goes pending after all (a redirector that estimates what has
// arrived, a virtual COM driver that waits for more; Wine, when nothing has
// arrived yet) is waited for at most kFetchLimitMs, and completes with the
// bytes that arrive meanwhile; then it is cancelled with CancelIoEx on its
// own OVERLAPPED, which ends that read alone (Windows Vista and later); a
// cancelled read completes with ERROR_OPERATION_ABORTED and reports the
// bytes it had moved, which are kept. No operation posts a completion
// packet: the low bit of each OVERLAPPED's event tells the system so, as
// the port has no completion port anyway.
//
// ACK bytes are written without waiting for them: each has a record that
// lives until its write has completed, and a write that flow control holds
// keeps its record busy. The outcome of a completed write is collected
// before the next write and by the idle check.
//
// Test builds (ZENTROK_FAULT_SEAM) can make the next ReadFile, WriteFile or
// ClearCommError fail as the system would, with a given last error, and add
// line errors to those the driver reports.
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/fault_seam.h"
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
// How long a read of what has arrived may stay pending before it is
// cancelled: it asks for nothing that has not arrived, so a driver that
// holds it that long is waiting for bytes it should not wait for.
constexpr DWORD kFetchLimitMs = 200;
// Pauses before a read that failed in passing is tried again, from the
// second failure in a row on.
constexpr DWORD kFirstRetryPauseMs = 10;
constexpr DWORD kMaxRetryPauseMs = 500;

constexpr ULONGLONG kNever = ~ULONGLONG{0};

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

    // Records how the call that started the operation returned, with the
    // last error it left; false when it failed outright.
    bool Started(BOOL completedAtOnce, DWORD error) {
        pending = !completedAtOnce && error == ERROR_IO_PENDING;
        return completedAtOnce || pending;
    }

    bool Busy() const { return pending && !HasOverlappedIoCompleted(&overlapped); }

    // The bytes it moved, once it is no longer busy; false, with the last
    // error set, when it failed.
    bool Finish(HANDLE file, DWORD& transferred) {
        pending = false;
        transferred = 0;
        return GetOverlappedResult(file, &overlapped, &transferred, FALSE) != 0;
    }
};

// The calls the fault seam can stand in for: an injected failure fails the
// call as the system would, leaving its code as the last error.
BOOL ReadBytes(HANDLE file, void* dest, DWORD size, OVERLAPPED* overlapped) {
    if (const DWORD code = fault_seam::TakeFailure(fault_seam::Call::Read)) {
        SetLastError(code);
        return FALSE;
    }
    return ReadFile(file, dest, size, nullptr, overlapped);
}

BOOL WriteBytes(HANDLE file, const void* bytes, DWORD size, OVERLAPPED* overlapped) {
    if (const DWORD code = fault_seam::TakeFailure(fault_seam::Call::Write)) {
        SetLastError(code);
        return FALSE;
    }
    return WriteFile(file, bytes, size, nullptr, overlapped);
}

BOOL ClearErrors(HANDLE file, DWORD& errors, COMSTAT& queues) {
    if (const DWORD code = fault_seam::TakeFailure(fault_seam::Call::Status)) {
        SetLastError(code);
        return FALSE;
    }
    return ClearCommError(file, &errors, &queues);
}

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

// "<call>: <the system's words for error>".
std::string CallFailed(const char* call, DWORD error) { return std::string(call) + ": " + SystemErrorText(error); }

// Adds "<call>: <reason>" for a call that failed.
void Check(BOOL succeeded, const char* call, std::string& failures) {
    if (succeeded) return;
    failures += (failures.empty() ? "" : "; ") + CallFailed(call, GetLastError());
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

// Milliseconds until `at` (kNever: INFINITE), 0 once it has passed.
DWORD MsUntil(ULONGLONG at) {
    if (at == kNever) return INFINITE;
    const ULONGLONG now = GetTickCount64();
    return at > now ? static_cast<DWORD>(std::min<ULONGLONG>(at - now, INFINITE - 1)) : 0;
}

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
    std::string goneBecause;  // the failures that told the device has gone; "" while it is there

    // The one-byte read the reader sleeps in, and the byte it brought.
    Operation wake;
    char wakeByte = 0;
    bool wakeByteHeld = false;

    // After a read that failed in passing: when to read again, and the
    // pause after the next failure.
    ULONGLONG retryAt = 0;
    DWORD retryPauseMs = 0;

    // The read of what has arrived behind the first byte; `drained` once it
    // brought less than it asked for, until the next wait.
    Operation fetch;
    char fetched[1024] = {};
    DWORD fetchAsked = 0;
    bool drained = false;
    ULONGLONG fetchStartedAt = 0;
    bool fetchCancelled = false;

    // The port's time-outs as configured, and the same with the read
    // returning at once; learnt at the first read.
    COMMTIMEOUTS sleeping{};
    COMMTIMEOUTS immediate{};
    bool timeoutsKnown = false;
    bool immediateSet = false;

    DWORD lineErrors = 0;  // CE_ bits collected since the last TakeLineErrors

    std::vector<std::unique_ptr<WriteRecord>> writes;

    bool Gone() const { return !goneBecause.empty(); }

    // ClearCommError, which collects the line errors. When it fails the
    // device has gone; `failed` is the failure it confirms, if any.
    bool QueryStatus(COMSTAT& queues, const std::string& failed = {}) {
        DWORD errors = 0;
        if (ClearErrors(handle, errors, queues)) {
            lineErrors |= errors;
            return true;
        }
        const std::string status = CallFailed("ClearCommError", GetLastError());
        if (!Gone()) goneBecause = failed.empty() ? status : failed + "; " + status;
        return false;
    }

    // A failed I/O call: true when it passes, false when ClearCommError
    // confirms that the device has gone.
    bool Passes(const std::string& failure) {
        COMSTAT queues{};
        return !Gone() && QueryStatus(queues, failure);
    }

    // A read that failed: unless the device has gone, reads start again at
    // once, and after a pause from the next failure in a row on.
    void ReadFailed(const std::string& failure) {
        if (!Passes(failure)) return;
        retryAt = GetTickCount64() + retryPauseMs;
        retryPauseMs = retryPauseMs == 0 ? kFirstRetryPauseMs : std::min(retryPauseMs * 2, kMaxRetryPauseMs);
    }

    bool RetryDue() const { return GetTickCount64() >= retryAt; }

    // Notices a completed one-byte read.
    void CollectWake() {
        if (!wake.pending || wake.Busy()) return;
        DWORD transferred = 0;
        if (!wake.Finish(handle, transferred))
            return ReadFailed(CallFailed("GetOverlappedResult of ReadFile", GetLastError()));
        wakeByteHeld = transferred == 1;
        if (!wakeByteHeld) return ReadFailed("ReadFile: completed without its byte");
        retryPauseMs = 0;
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

    // A port that kept its immediate time-outs returns at once from this
    // read too, without its byte: that counts as a failed read.
    void StartWakeRead() {
        UseTimeouts(false);
        drained = false;
        const BOOL completed = ReadBytes(handle, &wakeByte, 1, wake.Begin());
        const DWORD error = completed ? ERROR_SUCCESS : GetLastError();
        if (!wake.Started(completed, error)) return ReadFailed(CallFailed("ReadFile", error));
        if (completed) {
            wake.pending = true;  // finished at once: collected like any other
            CollectWake();
        }
    }

    // Takes up to `size` bytes of what has arrived into `fetched`.
    DWORD Fetch(DWORD size) {
        if (fetch.pending) return CollectFetch();
        if (drained || Gone() || !RetryDue()) return 0;
        // A port that keeps its time-outs gets a read of exactly what it
        // says has arrived, which completes without waiting for more.
        if (!UseTimeouts(true)) {
            COMSTAT queues{};
            if (!QueryStatus(queues)) return 0;
            if (queues.cbInQue < size) size = queues.cbInQue;
            if (size == 0) return 0;
        }
        const BOOL completed = ReadBytes(handle, fetched, size, fetch.Begin());
        const DWORD error = completed ? ERROR_SUCCESS : GetLastError();
        if (!fetch.Started(completed, error)) {
            ReadFailed(CallFailed("ReadFile", error));
            return 0;
        }
        fetchAsked = size;
        fetchStartedAt = GetTickCount64();
        fetchCancelled = false;
        return CollectFetch();
    }

    // The bytes of a fetch that has completed; 0 while it is still busy. A
    // failed read still reports what it moved; one this port cancelled did
    // not fail.
    DWORD CollectFetch() {
        if (fetch.Busy()) {
            BoundFetch();
            return 0;
        }
        DWORD transferred = 0;
        if (fetch.Finish(handle, transferred)) {
            retryPauseMs = 0;
        } else if (const DWORD error = GetLastError(); !fetchCancelled || error != ERROR_OPERATION_ABORTED) {
            ReadFailed(CallFailed("GetOverlappedResult of ReadFile", error));
        }
        drained = transferred < fetchAsked;
        return transferred;
    }

    // Cancels a fetch pending beyond its bound; CancelIoEx ends that one read.
    void BoundFetch() {
        if (fetchCancelled || !fetch.Busy() || GetTickCount64() - fetchStartedAt < kFetchLimitMs) return;
        CancelIoEx(handle, &fetch.overlapped);
        fetchCancelled = true;
    }

    // Sleeps until the pending fetch completes, its bound passes, the stop
    // comes or `deadline`; the bound cancels it and the wait goes on.
    Wake WaitForFetch(HANDLE stop, ULONGLONG deadline) {
        for (;;) {
            BoundFetch();
            if (!fetch.Busy()) return WaitForSingleObject(stop, 0) == WAIT_OBJECT_0 ? Wake::Stop : Wake::Input;
            const ULONGLONG until = fetchCancelled ? deadline : std::min(deadline, fetchStartedAt + kFetchLimitMs);
            const Wake wake = SleepOn(stop, fetch, MsUntil(until));
            if (wake != Wake::TimedOut) return wake;
            if (GetTickCount64() >= deadline) return Wake::TimedOut;
        }
    }

    LineErrors TakeErrors() {
        COMSTAT queues{};
        if (!Gone()) QueryStatus(queues);
        LineErrors taken = fault_seam::TakeLineErrors();
        taken.Overrun |= (lineErrors & CE_OVERRUN) != 0;
        taken.QueueOverflow |= (lineErrors & CE_RXOVER) != 0;
        taken.Framing |= (lineErrors & CE_FRAME) != 0;
        taken.Parity |= (lineErrors & CE_RXPARITY) != 0;
        taken.Break |= (lineErrors & CE_BREAK) != 0;
        lineErrors = 0;
        return taken;
    }

    // Collects the outcome of every write that has completed since.
    void CollectWrites() {
        for (const auto& write : writes) {
            if (!write->operation.pending || write->operation.Busy()) continue;
            DWORD transferred = 0;
            if (!write->operation.Finish(handle, transferred))
                Passes(CallFailed("GetOverlappedResult of WriteFile", GetLastError()));
        }
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
    // The port holds the configured time-outs now (also when the settings
    // are applied again to an open port); the reader learns them anew.
    impl_->timeoutsKnown = false;
    impl_->immediateSet = false;

    DCB now{};
    now.DCBlength = sizeof now;
    result.ReadBack = GetCommState(handle, &now) != 0;
    if (result.ReadBack) result.Reported = LineOf(now);
    return result;
}

// A fetch still outstanding is waited for: its bytes come next. Otherwise
// the one-byte read is started when none is outstanding and no pause after
// a failed read is running; a look without sleeping (a telegram is at hand)
// needs no system call.
SerialPort::Wake SerialPort::WaitForInput(Event& stop, std::uint32_t timeoutMs) {
    Impl& port = *impl_;
    const HANDLE stopEvent = reinterpret_cast<HANDLE>(stop.Native());
    const ULONGLONG deadline = timeoutMs == INFINITE ? kNever : GetTickCount64() + timeoutMs;
    for (;;) {
        if (port.Gone()) return stop.Wait(0) ? Wake::Stop : Wake::Gone;
        if (port.fetch.pending) return port.WaitForFetch(stopEvent, deadline);
        port.CollectWake();
        if (!port.wakeByteHeld && !port.wake.pending && !port.Gone() && port.RetryDue()) port.StartWakeRead();
        if (port.Gone()) continue;
        if (port.wakeByteHeld) return stop.Wait(0) ? Wake::Stop : Wake::Input;
        if (timeoutMs == 0) return stop.Wait(0) ? Wake::Stop : Wake::TimedOut;
        const Wake wake = port.wake.pending ? SleepOn(stopEvent, port.wake, MsUntil(deadline))
                                            : SleepOut(stopEvent, MsUntil(std::min(deadline, port.retryAt)));
        if (wake == Wake::Stop) return wake;
        if (wake == Wake::TimedOut && GetTickCount64() >= deadline) return wake;
    }
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
    if (!port.Gone()) PurgeComm(port.handle, PURGE_RXCLEAR);
}

// Whatever has completed is looked at first; then ClearCommError, which
// clears only the line errors, and those are kept for the reader.
bool SerialPort::DeviceGone(std::string* seen) {
    Impl& port = *impl_;
    port.CollectWake();
    port.CollectWrites();
    COMSTAT queues{};
    if (!port.Gone()) port.QueryStatus(queues);
    if (seen) *seen = port.goneBecause;
    return port.Gone();
}

SerialPort::WriteOutcome SerialPort::WriteByte(char byte, std::string* whyNot) {
    Impl& port = *impl_;
    port.CollectWrites();
    std::string failure;
    if (!port.Gone()) {
        WriteRecord* write = port.FreeWriteRecord();
        if (!write) return WriteOutcome::Dropped;
        write->byte = byte;
        const BOOL completed = WriteBytes(port.handle, &write->byte, 1, write->operation.Begin());
        const DWORD error = completed ? ERROR_SUCCESS : GetLastError();
        if (write->operation.Started(completed, error)) return WriteOutcome::Queued;
        failure = CallFailed("WriteFile", error);
        port.Passes(failure);
    }
    if (whyNot) *whyNot = port.Gone() ? port.goneBecause : failure;
    return WriteOutcome::Failed;
}

}  // namespace zentrok::platform
