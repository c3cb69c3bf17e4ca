#pragma once

#include <algorithm>
#include <cstddef>
#include <thread>
#include <utility>
#include <vector>

// Work spread over the processor's cores: the one place the store starts
// threads. Each piece of work must touch only what no other piece touches.
namespace Parallel {

// The cores worth using at once, between 1 and most.
inline size_t Cores(size_t most = 4) {
    return std::clamp<size_t>(std::thread::hardware_concurrency(), 1, most);
}

// Threads that each run one piece of work, all joined when this goes (or at
// join()), so no piece outlives what it works on.
class Helpers {
public:
    Helpers() = default;
    Helpers(const Helpers &) = delete;
    Helpers &operator=(const Helpers &) = delete;
    ~Helpers() { join(); }

    template <typename Work> void start(Work &&work) {
        m_threads.emplace_back(std::forward<Work>(work));
    }
    void join() {
        for (std::thread &thread : m_threads)
            thread.join();
        m_threads.clear();
    }

private:
    std::vector<std::thread> m_threads;
};

// here() on this thread while there() runs on another; back when both are done.
template <typename Here, typename There> void Both(const Here &here, const There &there) {
    Helpers helper;
    helper.start(there);
    here();
}

// work(begin, end) over [0, count) in slices of about equal size, the first
// on this thread and each of the others on a thread of its own.
template <typename Work> void InSlices(size_t count, size_t slices, const Work &work) {
    slices = std::clamp<size_t>(slices, 1, std::max<size_t>(count, 1));
    Helpers helpers;
    for (size_t s = 1; s < slices; ++s)
        helpers.start(
            [&work, count, slices, s] { work(count * s / slices, count * (s + 1) / slices); });
    work(0, count / slices);
}

} // namespace Parallel
