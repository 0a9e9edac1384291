#pragma once

#include "plot/axis.h"

#include <memory>

namespace wavrell::test {

/// A linear axis in the given position, N pixels long (the other side 41
/// pixels), with the given ends written.
inline std::unique_ptr<TAxis> make_axis(tposition pos, double lo, double hi, int n) {
    auto axis = std::make_unique<TAxis>();
    axis->setPosition(pos);
    if (pos == posleft || pos == posright)
        axis->resize(41, n);
    else
        axis->resize(n, 41);
    axis->set_hilovalues(lo, hi);
    return axis;
}

}  // namespace wavrell::test
