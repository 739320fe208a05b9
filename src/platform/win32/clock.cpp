// System clocks and the regional time format, from the Windows API.
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace zentrok::platform {
namespace {

static_assert(sizeof(QenSystemTime) == sizeof(SYSTEMTIME), "QenSystemTime is laid out as SYSTEMTIME");
static_assert(offsetof(QenSystemTime, wDayOfWeek) == offsetof(SYSTEMTIME, wDayOfWeek));
static_assert(offsetof(QenSystemTime, wMilliseconds) == offsetof(SYSTEMTIME, wMilliseconds));

QenSystemTime FromSystemTime(const SYSTEMTIME& time) {
    QenSystemTime result;
    std::memcpy(&result, &time, sizeof result);
    return result;
}

// One locale value as text; false when the locale does not provide it.
bool LocaleText(LCID locale, LCTYPE item, std::string& text) {
    char buffer[80];
    if (GetLocaleInfoA(locale, item, buffer, sizeof buffer) == 0) return false;
    text = buffer;
    return true;
}

bool LocaleFlag(LCID locale, LCTYPE item) {
    std::string text;
    return LocaleText(locale, item, text) && text == "1";
}

// The long time format of the loading thread's locale; what cannot be read
// keeps its default.
TimeFormat ReadTimeFormat() {
    const LCID locale = GetThreadLocale();
    TimeFormat result;
    LocaleText(locale, LOCALE_STIME, result.Separator);
    LocaleText(locale, LOCALE_S1159, result.Am);
    LocaleText(locale, LOCALE_S2359, result.Pm);
    result.LeadingZero = LocaleFlag(locale, LOCALE_ITLZERO);
    result.Clock24 = LocaleFlag(locale, LOCALE_ITIME);
    result.DesignatorFirst = LocaleFlag(locale, LOCALE_ITIMEMARKPOSN);
    return result;
}

// Read when the library is loaded, on the thread that loads it.
const TimeFormat kTimeFormat = ReadTimeFormat();

}  // namespace

QenSystemTime UtcNow() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    return FromSystemTime(now);
}

QenSystemTime LocalNow() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return FromSystemTime(now);
}

const TimeFormat& RegionalTimeFormat() { return kTimeFormat; }

// Both clocks count from the system's start, the interrupt time in 100 ns
// units; the unbiased one stops while the system sleeps or hibernates. The
// tick count moves in steps of the timer's period (10 to 16 ms), so a
// difference a little below 0 is read as none.
std::uint64_t SleptMilliseconds() {
    ULONGLONG awake = 0;
    if (!QueryUnbiasedInterruptTime(&awake)) return 0;
    const ULONGLONG since = GetTickCount64();
    const ULONGLONG awakeMs = awake / 10000;
    return since > awakeMs ? since - awakeMs : 0;
}

}  // namespace zentrok::platform
