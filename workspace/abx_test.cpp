#include "workspace/abx_test.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace wavrell {

int TAbxTest::system_pick() { return int(QRandomGenerator::system()->bounded(2u)); }

int64_t TAbxTest::steady_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

TAbxTest::TAbxTest(TRandomPick pick, TClock clock) : fpick(std::move(pick)), fclock(std::move(clock)) {}

void TAbxTest::start(int planned) {
    fplanned = std::clamp(planned, 1, kMaxTrials);
    ftrials.clear();
    fstarted = true;
    fscoreshown = false;
    // Anything but a clean 0 or 1 from a replaced source is a fault of that
    // source; it must not bias the test towards one side silently.
    fsequence.clear();
    for (int i = 0; i < fplanned; ++i) fsequence += fpick() == 1 ? 'B' : 'A';
    fkey.resize(32);
    QRandomGenerator::system()->generate(fkey.begin(), fkey.end());
    begin_trial();
}

QByteArray TAbxTest::commitment() const {
    return QCryptographicHash::hash(fkey + fsequence, QCryptographicHash::Sha256);
}

void TAbxTest::note_score_shown() {
    if (running() && done() > 0) fscoreshown = true;
}

void TAbxTest::begin_trial() {
    fx = fsequence.at(done()) == 'B' ? 1 : 0;
    fswitches = 0;
    ftrialstart = fclock();
}

void TAbxTest::note_switch() {
    if (running()) ++fswitches;
}

bool TAbxTest::answer(int said) {
    if (!running()) return false;
    TAbxTrial t;
    t.number = done() + 1;
    t.answer = said == 1 ? 1 : 0;
    t.truth = fx;
    t.correct = t.answer == t.truth;
    t.ms = std::max<int64_t>(0, fclock() - ftrialstart);
    t.switches = fswitches;
    ftrials.push_back(t);
    if (finished()) return true;
    begin_trial();
    return false;
}

int TAbxTest::correct() const {
    return int(std::count_if(ftrials.begin(), ftrials.end(), [](const TAbxTrial& t) { return t.correct; }));
}

QString TAbxTest::score_text() const {
    return QStringLiteral("%1/%2 correct, p = %3").arg(correct()).arg(done()).arg(three_significant(pvalue()));
}

double TAbxTest::binomial_tail(int n, int k) {
    if (k <= 0) return 1.0;
    if (k > n) return 0.0;
    n = std::min(n, kMaxTrials);
    // Terms C(n, i) / 2^n from i = 0 by their ratio (n − i) / (i + 1); 2^−1000
    // is still a normal double. The tail is summed from its smallest term up.
    std::vector<double> term(size_t(n) + 1);
    term[0] = std::ldexp(1.0, -n);
    for (int i = 0; i < n; ++i) term[size_t(i) + 1] = term[size_t(i)] * double(n - i) / double(i + 1);
    double sum = 0;
    for (int i = n; i >= k; --i) sum += term[size_t(i)];
    return std::min(sum, 1.0);
}

double TAbxTest::binomial_tail(int n, int k, double p) {
    if (k <= 0) return 1.0;
    if (k > n) return 0.0;
    if (p <= 0) return 0.0;
    if (p >= 1) return 1.0;
    // Each term from logarithms, so that no power underflows before the sum.
    const double lp = std::log(p), lq = std::log1p(-p);
    double sum = 0;
    for (int i = n; i >= k; --i)
        sum += std::exp(std::lgamma(n + 1.0) - std::lgamma(i + 1.0) - std::lgamma(n - i + 1.0) + i * lp + (n - i) * lq);
    return std::min(sum, 1.0);
}

std::pair<double, double> TAbxTest::confidence_interval(int n, int k) {
    if (n <= 0) return {0.0, 1.0};
    k = std::clamp(k, 0, n);
    // Lower end: P(K ≥ k | p) = 2.5 %; upper end: P(K ≤ k | p) = 2.5 %.
    // Both sides are monotonic in p: bisection to well below printing.
    auto solve = [](auto f) {
        double lo = 0, hi = 1;
        for (int i = 0; i < 100; ++i) {
            const double mid = (lo + hi) / 2;
            (f(mid) ? hi : lo) = mid;
        }
        return (lo + hi) / 2;
    };
    const double lower = k == 0 ? 0.0 : solve([&](double p) { return binomial_tail(n, k, p) >= 0.025; });
    const double upper = k == n ? 1.0 : solve([&](double p) { return 1.0 - binomial_tail(n, k + 1, p) <= 0.025; });
    return {lower, upper};
}

QString TAbxTest::three_significant(double p) {
    if (!(p > 0)) return QStringLiteral("0.00");
    // printf rounds to three significant digits correctly; the digits and
    // the exponent are then laid out in fixed form.
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2e", p);
    const QString s = QString::fromLatin1(buf);  // "3.52e-02"
    const QString digits = s.left(1) + s.mid(2, 2);
    const int e = s.mid(s.indexOf(QLatin1Char('e')) + 1).toInt();
    if (e >= 0) return s.left(4);  // p ≤ 1: "1.00"
    if (e < -6) return s;
    return QStringLiteral("0.") + QString(-e - 1, QLatin1Char('0')) + digits;
}

}  // namespace wavrell
