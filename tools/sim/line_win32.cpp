// Lines on Windows: COM ports through plain blocking ReadFile and WriteFile.
// Pseudo-terminals do not exist here.
#include <windows.h>

#include "sim/line.h"

namespace zentrok::sim {
namespace {

std::string SystemError(const std::string& what) { return what + " (error " + std::to_string(GetLastError()) + ")"; }

class ComPort : public Line {
public:
    ComPort(HANDLE port, std::string path) : port_(port), path_(std::move(path)) {}
    ~ComPort() override { CloseHandle(port_); }

    bool Write(std::string_view bytes) override {
        while (!bytes.empty()) {
            DWORD written = 0;
            if (!WriteFile(port_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written == 0)
                return false;
            bytes.remove_prefix(written);
        }
        return true;
    }

    // A read that returns as soon as a byte is there, or after the time-out.
    std::string Read(int timeoutMs) override {
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = MAXDWORD;
        if (timeoutMs > 0) {
            timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
            timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(timeoutMs);
        }
        SetCommTimeouts(port_, &timeouts);
        char bytes[256];
        DWORD got = 0;
        if (!ReadFile(port_, bytes, sizeof bytes, &got, nullptr)) return {};
        return std::string(bytes, got);
    }

    // The driver raises DTR, which a null-modem cable shows here as DSR.
    bool HostPresent() override {
        DWORD status = 0;
        return GetCommModemStatus(port_, &status) && (status & MS_DSR_ON) != 0;
    }

    bool SeesHost() const override { return false; }
    std::string Description() const override { return "port " + path_; }

private:
    HANDLE port_;
    std::string path_;
};

}  // namespace

PortLink PortLinkFor(const std::string& dir, const std::string&, int port) {
    return {dir + "\\COM" + std::to_string(port), false};
}

std::unique_ptr<Line> OpenPseudoTerminal(const PortLink&, std::string& error) {
    error = "--pty and --wine-prefix are not available on Windows; use --device \\\\.\\COM<n> with a port pair";
    return nullptr;
}

std::unique_ptr<Line> OpenDevice(const std::string& path, unsigned baud, std::string& error) {
    const HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        error = SystemError("cannot open " + path);
        return nullptr;
    }
    DCB line{};
    line.DCBlength = sizeof line;
    GetCommState(port, &line);
    line.BaudRate = baud;
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    line.fBinary = TRUE;
    line.fParity = FALSE;
    line.fOutxCtsFlow = FALSE;
    line.fOutxDsrFlow = FALSE;
    line.fDtrControl = DTR_CONTROL_ENABLE;
    line.fRtsControl = RTS_CONTROL_ENABLE;
    line.fOutX = FALSE;
    line.fInX = FALSE;
    if (!SetCommState(port, &line)) {
        error = SystemError("cannot set up " + path);
        CloseHandle(port);
        return nullptr;
    }
    return std::make_unique<ComPort>(port, path);
}

}  // namespace zentrok::sim
