#pragma once

#include <vector>

namespace wavrell {

struct trmspeak;

/// Short-term crest factor at a cursor position, from the 100 ms block
/// records of one channel: the last 60 blocks up to the cursor's block,
/// block n steps back weighted e^(−0.05 n). Both values are 0 when there is
/// no block in range or a level is zero. Without allpass (a file at a rate
/// where the allpass cannot be designed, whose allpass peaks are all 0)
/// the crest factor is that of the samples alone and apcrest stays 0.
struct TCrestFactor {
    double crest = 0;    ///< dB
    double apcrest = 0;  ///< dB, of the allpassed signal
};

TCrestFactor short_term_crest(const std::vector<trmspeak>& row, double cursorpos, bool allpass = true);

}  // namespace wavrell
