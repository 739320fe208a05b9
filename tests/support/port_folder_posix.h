// POSIX builds: the folder in which this process's device doubles link
// their pseudo terminals as COM<n>, where the driver looks for its ports.
#pragma once

#include <string>

namespace zentrok::test {

const std::string& PortFolder();

}  // namespace zentrok::test
