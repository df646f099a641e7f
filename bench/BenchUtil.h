#pragma once
// Timing helpers of the benchmarks.
#include <algorithm>
#include <chrono>
#include <vector>

using BenchClock = std::chrono::steady_clock;

inline double msBetween(BenchClock::time_point a, BenchClock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}
