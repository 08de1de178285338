#pragma once

// The search cycle: the request leaves at once and again on every tick, until
// `repetitions` ticks in a row have passed without a new device.
namespace discovery {

constexpr int searchTickMs = 500;
constexpr int searchRepetitions = 5;

// The tick's decision: true when the request is to leave again (and counts it),
// false when the cycle ends. A new device sets the count back to 0.
inline bool searchTickRepeats(int *count)
{
    if (*count >= searchRepetitions)
        return false;
    ++*count;
    return true;
}

// A reply from a device the cycle has not seen: the cycle runs on.
inline void searchFoundNewDevice(int *count)
{
    *count = 0;
}

} // namespace discovery
