// System clocks and the regional time format, from the C library.
#include <langinfo.h>
#include <locale.h>
#include <time.h>

#include <string>

#include "platform/platform.h"

namespace zentrok::platform {
namespace {

QenSystemTime FromTm(const tm& parts, long nanoseconds) {
    QenSystemTime t{};
    t.wYear = static_cast<std::uint16_t>(parts.tm_year + 1900);
    t.wMonth = static_cast<std::uint16_t>(parts.tm_mon + 1);
    t.wDayOfWeek = static_cast<std::uint16_t>(parts.tm_wday);
    t.wDay = static_cast<std::uint16_t>(parts.tm_mday);
    t.wHour = static_cast<std::uint16_t>(parts.tm_hour);
    t.wMinute = static_cast<std::uint16_t>(parts.tm_min);
    t.wSecond = static_cast<std::uint16_t>(parts.tm_sec > 59 ? 59 : parts.tm_sec);
    t.wMilliseconds = static_cast<std::uint16_t>(nanoseconds / 1000000);
    return t;
}

// Replaces the composite conversions %T, %R and %r by what they stand for.
std::string Expand(std::string format, locale_t locale) {
    for (std::size_t at = 0; (at = format.find('%', at)) != std::string::npos && at + 1 < format.size();) {
        std::string with;
        switch (format[at + 1]) {
            case 'T': with = "%H:%M:%S"; break;
            case 'R': with = "%H:%M"; break;
            case 'r': with = nl_langinfo_l(T_FMT_AMPM, locale); break;
            default: at += 2; continue;
        }
        if (with.empty() || with.find("%r") != std::string::npos) with = "%I:%M:%S %p";
        format.replace(at, 2, with);
    }
    return format;
}

// The time format of the environment's LC_TIME: T_FMT tells the clock, the
// hour's padding, the separator and where the designator stands.
TimeFormat ReadTimeFormat() {
    TimeFormat result;
    locale_t locale = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    if (!locale) locale = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
    if (!locale) return result;

    const std::string format = Expand(nl_langinfo_l(T_FMT, locale), locale);
    std::size_t hour = std::string::npos;
    for (std::size_t i = 0; i + 1 < format.size(); ++i) {
        if (format[i] != '%') continue;
        std::size_t spec = i + 1;
        const bool unpadded = format[spec] == '-' || format[spec] == '_';
        if (unpadded && spec + 1 < format.size()) ++spec;
        const char c = format[spec];
        if (c == 'H' || c == 'I' || c == 'k' || c == 'l') {
            hour = spec + 1;
            result.Clock24 = c == 'H' || c == 'k';
            result.LeadingZero = !unpadded && (c == 'H' || c == 'I');
            const std::size_t minute = format.find("%M", hour);
            if (minute != std::string::npos && minute > hour) result.Separator = format.substr(hour, minute - hour);
            break;
        }
    }
    const std::size_t designator = format.find("%p");
    result.DesignatorFirst = designator != std::string::npos && hour != std::string::npos && designator < hour;
    if (const char* am = nl_langinfo_l(AM_STR, locale); am && *am) result.Am = am;
    if (const char* pm = nl_langinfo_l(PM_STR, locale); pm && *pm) result.Pm = pm;
    freelocale(locale);
    return result;
}

// Read when the library is loaded.
const TimeFormat kTimeFormat = ReadTimeFormat();

}  // namespace

QenSystemTime UtcNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts{};
    gmtime_r(&now.tv_sec, &parts);
    return FromTm(parts, now.tv_nsec);
}

QenSystemTime LocalNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts{};
    localtime_r(&now.tv_sec, &parts);
    return FromTm(parts, now.tv_nsec);
}

const TimeFormat& RegionalTimeFormat() { return kTimeFormat; }

}  // namespace zentrok::platform

namespace zentrok::platform {

std::uint64_t SleptMilliseconds() {
    const auto ms = [](clockid_t clock) {
        timespec now{};
        clock_gettime(clock, &now);
        return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    };
    const std::int64_t slept = ms(CLOCK_BOOTTIME) - ms(CLOCK_MONOTONIC);
    return slept > 0 ? static_cast<std::uint64_t>(slept) : 0;
}

}  // namespace zentrok::platform
