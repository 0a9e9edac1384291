#include "workspace/range_source.h"

namespace wavrell {

bool TRawStraightSource::minmax(int64_t j, int64_t e, double& lo, double& hi) {
    if (!valid_range(j, e)) return false;
    double l = value(fsamples[j]), h = l;
    for (int64_t i = j + 1; i <= e; ++i) {
        const double v = value(fsamples[i]);
        l = v < l ? v : l;
        h = v > h ? v : h;
    }
    lo = l + 0.0;
    hi = h + 0.0;
    return true;
}

TAllpassStraightSource::TAllpassStraightSource(const int16_t* samples, int64_t count,
                                               const TRealFilterSection& design)
    : TRangeSource(count), fsamples(samples), ffilter(std::make_unique<TRealFilterSection>()) {
    // The setters derive the coefficients; SampFreq last recomputes both
    // pairs from the stored frequencies and the gain mode.
    ffilter->setGain(design.Gain());
    ffilter->setUnityGainAtHF(design.UnityGainAtHF());
    ffilter->setFZero(design.FZero());
    ffilter->setFPole(design.FPole());
    ffilter->setSampFreq(design.SampFreq());
    ffilter->reset();
}

bool TAllpassStraightSource::minmax(int64_t j, int64_t e, double& lo, double& hi) {
    if (!valid_range(j, e)) return false;
    if (j + 1 < fnext) {
        // The state before j is gone: start again from the first sample.
        ffilter->reset();
        fnext = 0;
    }
    double l, h;
    int64_t i;
    if (j + 1 == fnext) {
        l = h = value(flast);
        i = fnext;
    } else {
        for (i = fnext; i < j; ++i) ffilter->filter(fsamples[i]);
        flast = ffilter->filter(fsamples[j]);
        l = h = value(flast);
        i = j + 1;
    }
    for (; i <= e; ++i) {
        flast = ffilter->filter(fsamples[i]);
        const double v = value(flast);
        l = v < l ? v : l;
        h = v > h ? v : h;
    }
    fnext = e + 1;
    lo = l + 0.0;
    hi = h + 0.0;
    return true;
}

}  // namespace wavrell
