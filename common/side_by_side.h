#pragma once

#include <functional>

namespace wavrell {

/// Runs first on the calling thread and second on another one, side by
/// side; returns when both are done and passes on the first's error, else
/// the second's. When no thread can be started, runs them one after the
/// other on the calling thread.
void side_by_side(const std::function<void()>& first, const std::function<void()>& second);

}  // namespace wavrell
