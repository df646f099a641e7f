#pragma once
// Shortens a failing sequence: drops ever smaller chunks while the sequence
// still fails (delta debugging, complements only). The result fails too and
// no single step of it can be dropped.
#include <algorithm>
#include <cstddef>
#include <functional>
#include <vector>

template <typename T>
std::vector<T> shrinkFailing(std::vector<T> steps, const std::function<bool(const std::vector<T>&)>& fails)
{
    std::size_t chunks = 2;
    while (steps.size() >= 2) {
        const std::size_t size = (steps.size() + chunks - 1) / chunks;
        bool dropped = false;
        for (std::size_t from = 0; from < steps.size(); from += size) {
            std::vector<T> rest(steps.begin(), steps.begin() + std::ptrdiff_t(from));
            rest.insert(rest.end(), steps.begin() + std::ptrdiff_t(std::min(steps.size(), from + size)), steps.end());
            if (fails(rest)) {
                steps = std::move(rest);
                chunks = std::max<std::size_t>(chunks - 1, 2);
                dropped = true;
                break;
            }
        }
        if (dropped)
            continue;
        if (size == 1)
            break;
        chunks = std::min(steps.size(), chunks * 2);
    }
    if (steps.size() == 1 && fails({}))
        steps.clear();
    return steps;
}
