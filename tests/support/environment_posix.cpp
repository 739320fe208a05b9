#include <cstdlib>

#include "environment.h"

namespace zentrok::test {

ScopedEnvironment::ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    setenv(name, value.c_str(), 1);
}

ScopedEnvironment::~ScopedEnvironment() { unsetenv(name_.c_str()); }

}  // namespace zentrok::test
