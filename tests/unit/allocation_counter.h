// Counts every allocation of the test process, so that a scan's own allocations show.
#pragma once

#include <cstddef>

namespace tessarwick::testing {

std::size_t allocationsSoFar();

}  // namespace tessarwick::testing
