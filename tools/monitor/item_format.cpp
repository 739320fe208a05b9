#include "monitor/item_format.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace zentrok::monitor {
namespace {

constexpr std::size_t kStampOffset = offsetof(QenMsg, Stamp);

bool HoldsSentinel(const void* bytes, std::size_t size) {
    const auto* byte = static_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i < size; ++i)
        if (byte[i] != kSentinelByte) return false;
    return true;
}

template <std::size_t N>
std::string_view Chars(std::uint8_t length, const char (&chars)[N]) {
    return {chars, length < N ? length : N};
}

// `text` in double quotes: printable ASCII as it is, quote and backslash
// after a backslash, every other byte through `escape` (a printf format).
std::string Escaped(std::string_view text, const char* escape) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, escape, byte);
            quoted += hex;
        } else {
            quoted += c;
        }
    }
    return quoted + '"';
}

// A JSON string; bytes outside printable ASCII are taken as Latin-1.
std::string JsonString(std::string_view text) { return Escaped(text, "\\u%04X"); }

bool HasStamp(const QenMsg& msg) { return msg.Stamp.wYear != QEN_NO_STAMP; }

std::string StampText(const QenSystemTime& t) {
    char text[48];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", unsigned{t.wYear}, unsigned{t.wMonth},
                  unsigned{t.wDay}, unsigned{t.wHour}, unsigned{t.wMinute}, unsigned{t.wSecond});
    return text;
}

std::string IdentText(std::int32_t ident) {
    char text[12];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(static_cast<std::uint32_t>(ident)));
    return text;
}

std::string Padded(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

std::string RightAligned(const std::string& text, std::size_t width) {
    return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

}  // namespace

std::string Quoted(std::string_view text) { return Escaped(text, "\\x%02X"); }

void FillSentinel(QenMsg& msg) { std::memset(&msg, kSentinelByte, sizeof msg); }

bool IsQueuedEntry(const QenMsg& msg) {
    return HoldsSentinel(&msg.Number, sizeof msg.Number) &&
           HoldsSentinel(reinterpret_cast<const unsigned char*>(&msg) + kStampOffset, sizeof msg.Stamp);
}

std::string TextHeader(bool received) {
    return std::string(" item  number  ch  ident     code  text       stamp                queued") +
           (received ? "  received" : "");
}

std::string TextRow(int item, const QenMsg& msg, const std::string* received) {
    const bool queued = IsQueuedEntry(msg);
    std::string row = RightAligned(std::to_string(item), 5);
    row += "  " + RightAligned(queued ? "-" : std::to_string(msg.Number), 6);
    row += "  " + RightAligned(std::to_string(msg.Channel), 2);
    row += "  " + IdentText(msg.Ident);
    row += "  " + Padded(Quoted(Chars(msg.Code.Length, msg.Code.Chars)), 4);
    row += "  " + Padded(Quoted(Chars(msg.Text.Length, msg.Text.Chars)), 9);
    row += "  " + Padded(!queued && HasStamp(msg) ? StampText(msg.Stamp) : "-", 19);
    row += queued ? "  yes" : "  no";
    if (received) row += (queued ? "     " : "      ") + *received;
    return row;
}

std::string JsonRow(int item, const QenMsg& msg, const std::string* received) {
    const bool queued = IsQueuedEntry(msg);
    std::string row = "{\"item\":" + std::to_string(item);
    row += ",\"number\":" + (queued ? std::string("null") : std::to_string(msg.Number));
    row += ",\"channel\":" + std::to_string(msg.Channel);
    row += ",\"ident\":\"" + IdentText(msg.Ident) + '"';
    row += ",\"code\":" + JsonString(Chars(msg.Code.Length, msg.Code.Chars));
    row += ",\"text\":" + JsonString(Chars(msg.Text.Length, msg.Text.Chars));
    row += ",\"stamp\":" + (!queued && HasStamp(msg) ? '"' + StampText(msg.Stamp) + '"' : std::string("null"));
    row += queued ? ",\"queued\":true" : ",\"queued\":false";
    if (received) row += ",\"received\":" + JsonString(*received);
    return row + '}';
}

}  // namespace zentrok::monitor
