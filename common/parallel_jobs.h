#pragma once

#include <functional>
#include <vector>

namespace wavrell {

/// Runs independent jobs on up to `threads` threads, the calling thread
/// among them: each thread takes the next job not yet begun, in the order
/// given (so the longest jobs belong first), until none is left. Returns
/// when every job begun has ended and then passes on the error of the
/// earliest failed job (by its place in `jobs`); once a job has failed, no
/// further job is begun. When no extra thread can be started, the calling
/// thread runs them all one after the other.
void run_parallel_jobs(const std::vector<std::function<void()>>& jobs, unsigned threads);

/// Threads worth using for work bound by arithmetic: the processors this
/// machine has (at least 1, at most `most`).
unsigned compute_threads(unsigned most = 8);

}  // namespace wavrell
