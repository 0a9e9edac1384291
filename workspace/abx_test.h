#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace wavrell {

/// One answered trial of a blind test. Sources are 0 for A (file 1) and 1
/// for B (file 2).
struct TAbxTrial {
    int number = 0;      ///< 1, 2, ...
    int answer = 0;      ///< what the listener said X is
    int truth = 0;       ///< what X was
    bool correct = false;
    int64_t ms = 0;      ///< time from the trial's start to the answer, milliseconds
    int switches = 0;    ///< changes of the source heard during the trial
};

/// The state of a blind ABX test, free of widgets: the planned number of
/// trials, the hidden source X of the trial running (chosen afresh for every
/// trial from a random source), the answers and the score with its
/// probability under guessing. The window's panel shows it; the log is
/// written from it (abx_log.h). GUI thread.
class TAbxTest {
public:
    /// Gives 0 (A) or 1 (B), each with probability 1/2, independently per call.
    using TRandomPick = std::function<int()>;
    /// Milliseconds of a monotonic clock.
    using TClock = std::function<int64_t()>;

    /// The default pick: QRandomGenerator::system(), the operating system's
    /// cryptographic source, so that X cannot be predicted from earlier trials.
    static int system_pick();
    static int64_t steady_ms();

    explicit TAbxTest(TRandomPick pick = system_pick, TClock clock = steady_ms);

    /// The planned number of trials allowed (1 … kMaxTrials).
    static constexpr int kMaxTrials = 1000;

    /// Forgets every answer and starts trial 1 of `planned` trials
    /// (clamped to 1 … kMaxTrials). The X of every trial is chosen here, and
    /// a random 32-byte key with it: commitment() binds them before the
    /// first answer, key() and sequence() reveal them at the end.
    void start(int planned);
    /// The planned X of every trial, "A" or "B" each: "ABBA…".
    QByteArray sequence() const { return fsequence; }
    /// The random key of this test (32 bytes).
    QByteArray key() const { return fkey; }
    /// SHA-256 of the key followed by sequence(): known from the start.
    QByteArray commitment() const;
    /// The score was shown to the listener before the last answer.
    void note_score_shown();
    bool score_shown() const { return fscoreshown; }
    /// A test has been started and not all its trials are answered.
    bool running() const { return fstarted && int(ftrials.size()) < fplanned; }
    /// All planned trials are answered.
    bool finished() const { return fstarted && int(ftrials.size()) >= fplanned; }
    bool started() const { return fstarted; }
    int planned() const { return fplanned; }
    /// Number of the trial waiting for its answer (1-based), or the number
    /// of trials when finished.
    int trial() const { return std::min(int(ftrials.size()) + 1, fplanned); }
    /// What X is in the running trial: 0 (A) or 1 (B).
    int x() const { return fx; }
    /// The listener changed what is heard (A, B or X) during the running trial.
    void note_switch();
    int switches() const { return fswitches; }

    /// Records "X is A" (0) or "X is B" (1) for the running trial and starts
    /// the next one, choosing its X; returns true when that was the last
    /// planned trial. Ignored (false) when no test is running.
    bool answer(int said);

    const std::vector<TAbxTrial>& trials() const { return ftrials; }
    int done() const { return int(ftrials.size()); }
    int correct() const;
    /// Probability of at least correct() right answers in done() trials by
    /// guessing (one-sided binomial with p = 1/2); 1 for no trials.
    double pvalue() const { return binomial_tail(done(), correct()); }
    /// "7/8 correct, p = 0.0352".
    QString score_text() const;

    /// P(K ≥ k) for K binomial with n trials and probability 1/2: the sum of
    /// C(n, i) / 2^n for i = k … n (1 for k ≤ 0, 0 for k > n). n ≤ kMaxTrials.
    static double binomial_tail(int n, int k);
    /// The exact (Clopper–Pearson) two-sided 95 % confidence interval of
    /// the hit rate for k correct in n trials: {0, 1} for n = 0.
    static std::pair<double, double> confidence_interval(int n, int k);
    /// P(K ≥ k) for K binomial with n trials and probability p.
    static double binomial_tail(int n, int k, double p);

    /// A probability with three significant digits, "." as separator:
    /// 0.03515625 → "0.0352", 1 → "1.00", 0.5 → "0.500", 1.5258789e-05 →
    /// "0.0000153"; below 10⁻⁶ in exponent form ("9.31e-10").
    static QString three_significant(double p);

private:
    void begin_trial();

    TRandomPick fpick;
    TClock fclock;
    std::vector<TAbxTrial> ftrials;
    int fplanned = 16;
    bool fstarted = false;
    int fx = 0;
    int fswitches = 0;
    int64_t ftrialstart = 0;
    QByteArray fsequence;
    QByteArray fkey;
    bool fscoreshown = false;
};

}  // namespace wavrell
