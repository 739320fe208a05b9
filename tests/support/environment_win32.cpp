#include <windows.h>

#include "environment.h"

namespace zentrok::test {

// The process's environment block, which the driver reads.
ScopedEnvironment::ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    SetEnvironmentVariableA(name, value.c_str());
}

ScopedEnvironment::~ScopedEnvironment() { SetEnvironmentVariableA(name_.c_str(), nullptr); }

}  // namespace zentrok::test
