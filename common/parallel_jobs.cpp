#include "common/parallel_jobs.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <system_error>
#include <thread>

namespace wavrell {

void run_parallel_jobs(const std::vector<std::function<void()>>& jobs, unsigned threads) {
    const size_t n = jobs.size();
    std::vector<std::exception_ptr> errors(n);
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    auto work = [&] {
        for (;;) {
            if (failed.load()) return;
            const size_t i = next.fetch_add(1);
            if (i >= n) return;
            try {
                jobs[i]();
            } catch (...) {
                errors[i] = std::current_exception();
                failed = true;
            }
        }
    };
    std::vector<std::thread> helpers;
    const size_t extra = std::min<size_t>(n, std::max(1u, threads)) - (n > 0 ? 1 : 0);
    for (size_t t = 0; t < extra; ++t) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // the threads that did start, and this one, do the rest
        }
    }
    work();
    for (std::thread& h : helpers) h.join();
    for (const std::exception_ptr& e : errors)
        if (e) std::rethrow_exception(e);
}

unsigned compute_threads(unsigned most) {
    return std::clamp(std::thread::hardware_concurrency(), 1u, std::max(1u, most));
}

}  // namespace wavrell
