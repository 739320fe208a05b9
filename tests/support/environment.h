// An environment variable of this process, set for as long as the object
// lives, as a host's environment would hold it.
#pragma once

#include <string>

namespace zentrok::test {

class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name_;
};

}  // namespace zentrok::test
