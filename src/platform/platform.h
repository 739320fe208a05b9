// The driver's view of the operating system. Everything above this header is
// platform-neutral; posix/ and win32/ implement it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "zentrok.h"

namespace zentrok::platform {

// ---- Clocks ---------------------------------------------------------------

QenSystemTime UtcNow();
QenSystemTime LocalNow();

// Milliseconds the system has spent asleep (suspended or hibernating) since
// it started: a steady clock that counts sleep (GetTickCount64,
// CLOCK_BOOTTIME) minus one that does not (QueryUnbiasedInterruptTime,
// CLOCK_MONOTONIC). When it grows, the system has slept meanwhile.
std::uint64_t SleptMilliseconds();

// ---- Regional time format --------------------------------------------------

// How the log writes the time of day. Read once when the library is loaded.
struct TimeFormat {
    std::string Separator = ":";
    bool LeadingZero = false;  // hour always with two digits
    bool Clock24 = false;      // 24-hour clock; otherwise 1..12 with a designator
    std::string Am = "am";     // designator before noon
    std::string Pm = "pm";     // designator from noon on
    bool DesignatorFirst = false;
};

const TimeFormat& RegionalTimeFormat();

// ---- Events and waits ------------------------------------------------------

inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

class Event {
public:
    enum class Mode { ManualReset, AutoReset };

    explicit Event(Mode mode);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // True when the event was signalled within the time-out; an auto-reset
    // event is reset by the wait that sees it. A manual-reset event answers
    // a time-out of 0 from memory, without a system call.
    bool Wait(std::uint32_t timeoutMs);

    Mode GetMode() const { return mode_; }
    // The platform's own object (a file descriptor or a HANDLE). Whoever
    // waits on it directly must not set or reset it that way.
    std::intptr_t Native() const { return native_; }

private:
    Mode mode_;
    std::intptr_t native_;
    std::atomic<bool> set_{false};  // what Set and Reset last did
};

// A signal between the threads of this process that costs no system call
// unless a waiter has to sleep: Set, and a wait that finds the signal set,
// only touch memory, and a waiter checks memory for a few microseconds
// before it sleeps on the platform's lock and condition variable
// (SRWLOCK and CONDITION_VARIABLE on Windows, which Wine keeps out of its
// server). A partner that answers at once then costs neither a sleep nor a
// wake-up. A Set may still be finishing when its waiter returns: whoever
// destroys a Signal must first make sure no Set is running.
class Signal {
public:
    explicit Signal(Event::Mode mode);
    ~Signal();
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    void Set();
    void Reset() { set_.store(false); }
    // Whether it is set, without waiting; an auto-reset signal is reset by it.
    bool Check();
    // As Event::Wait; a time-out of 0 still checks for a few microseconds.
    bool Wait(std::uint32_t timeoutMs);

private:
    struct Sleeper;  // the platform's lock and condition variable

    bool Spin();
    bool Sleep(std::uint32_t timeoutMs);
    void WakeSleepers();

    Event::Mode mode_;
    std::atomic<bool> set_{false};
    std::atomic<int> sleepers_{0};
    std::unique_ptr<Sleeper> sleeper_;
};

// A lock for short sections shared by a reader and the host: taking a free
// lock and handing it over cost no system call (an SRWLOCK on Windows; the
// C++ runtime's mutex there would sleep on a kernel event).
class Lock {
public:
    Lock();
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    void lock();
    void unlock();

private:
    struct Native;
    std::unique_ptr<Native> native_;
};

enum class WaitResult { First, Second, TimedOut };

// Waits until either event is signalled; `first` wins when both are.
WaitResult WaitForEither(Event& first, Event& second, std::uint32_t timeoutMs);

// A wait made inside a host's call, on `first` and, when given, `second`. On
// Windows the thread that loaded the library goes on delivering messages
// sent to its windows meanwhile, as a wait of that thread always has.
WaitResult HostWait(Event& first, Event* second, std::uint32_t timeoutMs);

// ---- Threads and the host thread -------------------------------------------

// A thread of the driver's own, started at once. Its end can be waited for
// with a bound from any thread, also from one that holds the system's loader
// lock (a DllMain), where a join could never return: the thread counts as
// ended once its body has returned, or once the system has ended it (process
// exit on Windows ends every other thread before the DLLs are told). A
// thread that has not ended when the object goes is left to end on its own.
class Thread {
public:
    using Body = void (*)(void* argument);
    // Null when the system could not start a thread.
    static std::unique_ptr<Thread> Start(Body body, void* argument);
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Set once the body has returned.
    Event& BodyReturned();

    // Waits at most `timeoutMs` for the end; true once the thread has ended.
    bool WaitEnded(std::uint32_t timeoutMs);

    struct Impl;

private:
    explicit Thread(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// What the host thread runs when it is notified, handed down by the layer
// that queues calls for it. It is the only way this layer calls upwards.
using HostThreadWork = void (*)();

// Makes the calling thread the host thread: `runQueued` is what it runs when
// notified. On Windows this creates the hidden window whose procedure runs
// it; a GUI host that only retrieves window messages is woken through it.
void AttachHostThread(HostThreadWork runQueued);

// Whether the host thread can still be notified. On Windows its window goes
// with its thread, so a thread that has ended is no host thread; elsewhere
// there is nothing to notify and this is always true.
bool HostThreadReachable();

// Asks the host thread to run its queued calls. On Windows a notification is
// sent to the hidden window; elsewhere nothing needs to be done. Every thread
// that polls or closes a port runs them anyway.
void NotifyHostThread();

// ---- Files -----------------------------------------------------------------

// "<current directory>/<parts...>" with the platform's separator, relative.
std::string CurrentDirPath(std::initializer_list<std::string_view> parts);

// The value of `key` in `section` of a private-profile (ini) file, or "" when
// the file, section or key is missing. Names match case-insensitively.
std::string ReadProfileString(const std::string& path, std::string_view section, std::string_view key);

// What a lookup of ReadProfileString found, for telling why a value is "".
enum class ProfileFound { Value, NoFile, NoSection, NoKey };

struct ProfileLookup {
    std::string Value;  // exactly what ReadProfileString returns
    ProfileFound Found = ProfileFound::Value;
};

ProfileLookup LookUpProfileString(const std::string& path, std::string_view section, std::string_view key);

// Writes `data` at the end of the file at `path`, also while other
// processes append to it: an existing file is opened with read and write
// sharing; a missing one is created, never replacing one that appeared
// meanwhile. Returns false when the file could not be opened or created or
// not all of `data` was written; `whyNot`, when given, then says which step
// failed and the system's reason. A file that another process holds without
// write sharing, or locks, is waited for at most `waitMs` (0: one attempt);
// then the line is lost, or written without the lock. The file is closed
// again before returning.
bool AppendToFile(const std::string& path, const void* data, std::size_t size, std::uint32_t waitMs,
                  std::string* whyNot = nullptr);

// ---- Environment -----------------------------------------------------------

// The value of the process's environment variable `name`; "" when unset.
std::string EnvironmentValue(const char* name);

// ---- Serial port -----------------------------------------------------------

// Flag word of the line settings (the Windows DCB bit layout).
namespace flags {
inline constexpr std::uint32_t kBinary = 0x0001;
inline constexpr std::uint32_t kOutxCtsFlow = 0x0004;
inline constexpr std::uint32_t kDtrControlEnable = 0x0010;
inline constexpr std::uint32_t kOutX = 0x0100;
inline constexpr std::uint32_t kInX = 0x0200;
inline constexpr std::uint32_t kRtsControlHandshake = 0x2000;
}  // namespace flags

struct LineSettings {
    std::uint32_t BaudRate = 0;
    std::uint8_t ByteSize = 0;
    std::uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
    std::uint32_t Flags = 0;    // replaces the port's flag word
    char EvtChar = 0;           // the device's event character (the end of a telegram)
};

// Line errors the device reported since they were last taken.
struct LineErrors {
    bool Overrun = false;        // the receiver lost bytes (CE_OVERRUN)
    bool QueueOverflow = false;  // the device's input queue was full (CE_RXOVER)
    bool Framing = false;
    bool Parity = false;
    bool Break = false;
    bool Any() const { return Overrun || QueueOverflow || Framing || Parity || Break; }
    bool LostInput() const { return Overrun || QueueOverflow; }
    // Bytes received may be wrong or missing. Parity is not checked on the
    // line (the flag word leaves fParity off), so its reports do not count.
    bool Damaging() const { return Overrun || QueueOverflow || Framing || Break; }
};

// Why a port did not open, as the system told it.
enum class OpenFailure { Missing, InUse, AccessDenied, NotATerminal, Other };

struct OpenError {
    OpenFailure Reason = OpenFailure::Other;
    std::uint32_t SystemCode = 0;  // errno, or GetLastError()
    std::string SystemText;        // the system's words for SystemCode
};

// What configuring a port did. The setup is applied call by call, and a
// call that fails leaves the rest to be tried.
struct ConfigureResult {
    std::string FailedCalls;  // the system calls that failed, with their reasons; "" when none did
    bool ReadBack = false;    // Reported holds what the device reports
    LineSettings Reported;    // the line as the device holds it after configuring
};

struct PortSetup {
    std::uint32_t InQueue = 0;  // recommended queue sizes
    std::uint32_t OutQueue = 0;
    LineSettings Line;
    std::uint32_t ReadIntervalTimeout = 0;  // milliseconds
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
};

// An open serial device. It only moves bytes: what they mean, and where a
// telegram ends, is the link's business.
class SerialPort {
public:
    // The device that port `number` opens.
    static std::string DeviceName(std::int32_t number);

    // Opens port `number` exclusively; null when it cannot be opened, with
    // `why`, when given, saying what the system answered.
    static std::unique_ptr<SerialPort> Open(std::int32_t number, OpenError* why = nullptr);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Queue sizes, line settings (starting from the port's current state)
    // and time-outs. A rejected setting leaves the port as it was; the
    // result says which calls failed and how the line stands afterwards,
    // read back from the device (GetCommState, tcgetattr).
    ConfigureResult Configure(const PortSetup& setup);

    enum class Wake { Stop, Input, TimedOut, Gone };

    // Sleeps until bytes have arrived that TakeArrived has not handed over,
    // `stop` is set, the device has gone away (Gone, see DeviceGone), or the
    // time-out passes; a stop goes first. A failure that is not the device's
    // going (a read a driver cancelled at suspend) is retried at once and
    // then after a short pause, so a caller that loops on this never spins.
    Wake WaitForInput(Event& stop, std::uint32_t timeoutMs);

    // Moves up to `size` bytes that have arrived into `dest`, oldest first,
    // without waiting for more. Returns how many; 0 when none are there.
    std::size_t TakeArrived(char* dest, std::size_t size);

    // Returns and clears the line errors the device has reported since the
    // last call: on Windows every ClearCommError that TakeArrived makes
    // collects them; elsewhere the driver's error counters are compared with
    // those of the last call (none where the device keeps no counters, as a
    // pseudo terminal).
    LineErrors TakeLineErrors();

    // Discards what the device holds of its input.
    void DiscardInput();

    enum class WriteOutcome {
        Queued,   // handed to the system; not awaited
        Dropped,  // earlier bytes still wait on a line that flow control holds
        Failed,   // the system refused it
    };
    // Queues one byte for sending; `whyNot`, when given, says why it failed.
    WriteOutcome WriteByte(char byte, std::string* whyNot = nullptr);

    // Whether the device behind this handle has gone away for good (a
    // removed adapter, a hung-up terminal), so that only a new open can reach
    // it again. Decided from what the system reported: on POSIX a hang-up,
    // EIO, ENXIO or ENODEV; on Windows a failed I/O call that a failing
    // ClearCommError on the same handle confirms, whatever its error code.
    // Asks the system once more when nothing has failed yet. `seen`, when
    // given, receives the failures that decided it.
    bool DeviceGone(std::string* seen = nullptr);

    struct Impl;

private:
    explicit SerialPort(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace zentrok::platform
