// Deadlines of the blocking link calls, on the monotonic clock, shared by the serial and TCP
// links.
#pragma once

#include <chrono>
#include <climits>

namespace qv::rt::detail {

using Clock = std::chrono::steady_clock;

// Milliseconds left until the deadline, rounded up so that a wait never ends before it; 0 once
// it has passed.
inline int msLeft(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

} // namespace qv::rt::detail
