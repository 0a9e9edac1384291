#include "workspace/play_timeline.h"

#include <algorithm>

namespace wavrell {

TPlayTimeline::TPlayTimeline(size_t capacity) : fcapacity(std::max<size_t>(capacity, 2)) {
    fnoted.reserve(fcapacity);
    // What is taken back comes from the record, plus what waited already.
    freplay.reserve(2 * fcapacity);
}

void TPlayTimeline::clear() {
    fnoted.clear();
    freplay.clear();
}

void TPlayTimeline::add(int64_t stream, int64_t position, int64_t frames) {
    if (frames <= 0) return;
    // What was noted from `stream` on is replaced.
    while (!fnoted.empty() && fnoted.back().stream >= stream) fnoted.pop_back();
    if (!fnoted.empty()) {
        Stretch& last = fnoted.back();
        last.frames = std::min(last.frames, stream - last.stream);
        if (last.stream + last.frames == stream && last.position + last.frames == position) {
            last.frames += frames;
            return;
        }
    }
    if (fnoted.size() == fcapacity) fnoted.erase(fnoted.begin());
    fnoted.push_back({stream, position, frames});
}

std::optional<int64_t> TPlayTimeline::position(int64_t stream) const {
    // The last stretch that begins at or before the frame.
    auto it = std::upper_bound(fnoted.begin(), fnoted.end(), stream,
                               [](int64_t f, const Stretch& s) { return f < s.stream; });
    if (it == fnoted.begin()) return std::nullopt;
    --it;
    if (stream >= it->stream + it->frames) return std::nullopt;
    return it->position + (stream - it->stream);
}

void TPlayTimeline::forget_before(int64_t stream) {
    size_t n = 0;
    while (n < fnoted.size() && fnoted[n].stream + fnoted[n].frames <= stream) ++n;
    fnoted.erase(fnoted.begin(), fnoted.begin() + ptrdiff_t(n));
}

void TPlayTimeline::take_back(int64_t stream) {
    // The stretches from `stream` on, in order, go in front of the replay.
    size_t first = fnoted.size();
    while (first > 0 && fnoted[first - 1].stream + fnoted[first - 1].frames > stream) --first;
    std::vector<Stretch>::iterator at = freplay.begin();
    for (size_t i = first; i < fnoted.size(); ++i) {
        Stretch s = fnoted[i];
        if (s.stream < stream) {
            const int64_t cut = stream - s.stream;
            s.position += cut;
            s.frames -= cut;
            s.stream = stream;
        }
        if (freplay.size() == freplay.capacity()) break;  // only after a long run of jumps
        at = freplay.insert(at, s) + 1;
    }
    // The stretch holding `stream` keeps its part before it.
    if (first < fnoted.size() && fnoted[first].stream < stream) {
        fnoted[first].frames = stream - fnoted[first].stream;
        ++first;
    }
    fnoted.erase(fnoted.begin() + ptrdiff_t(first), fnoted.end());
}

bool TPlayTimeline::next_replay(int64_t frames, int64_t* position, int64_t* count) {
    if (freplay.empty() || frames <= 0) return false;
    Stretch& s = freplay.front();
    *position = s.position;
    *count = std::min(frames, s.frames);
    s.position += *count;
    s.frames -= *count;
    if (s.frames == 0) freplay.erase(freplay.begin());
    return true;
}

}  // namespace wavrell
