#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace wavrell {

/// How far a long piece of work has come: units done out of a total,
/// counted by the threads doing it and read by any other (a progress
/// display polls it).
class TWorkProgress {
public:
    /// A new stretch of work of `total` units, none done yet.
    void start(int64_t total) {
        fdone.store(0, std::memory_order_relaxed);
        ftotal.store(total, std::memory_order_relaxed);
    }
    void add(int64_t units) { fdone.fetch_add(units, std::memory_order_relaxed); }
    void set(int64_t units) { fdone.store(units, std::memory_order_relaxed); }
    /// 0 … 1; 0 while no total is known.
    double fraction() const {
        const int64_t total = ftotal.load(std::memory_order_relaxed);
        if (total <= 0) return 0;
        return std::clamp(double(fdone.load(std::memory_order_relaxed)) / double(total), 0.0, 1.0);
    }

private:
    std::atomic<int64_t> fdone{0};
    std::atomic<int64_t> ftotal{0};
};

}  // namespace wavrell
