#include "demo/demo_song.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace wavrell {

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double fs = demo_rate;
constexpr double step_seconds = 60.0 / 110.0 / 4.0;  // one sixteenth at 110 BPM
constexpr double bar_seconds = 16 * step_seconds;
constexpr int bars = 9;  // eight bars of groove and a closing chord

/// Noise from a fixed seed (SplitMix64): the same sequence on every run and
/// every platform, unlike the standard library's distributions.
class TNoise {
public:
    explicit TNoise(uint64_t seed) : fstate(seed) {}
    /// Uniform in [-1, 1).
    double next() {
        uint64_t z = (fstate += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return double(z >> 11) * 0x1.0p-52 - 1.0;
    }
    /// Uniform in [1 - spread, 1 + spread): a player's variation of strength.
    double around_one(double spread) { return 1.0 + spread * next(); }

private:
    uint64_t fstate;
};

double midi_hz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

std::size_t frame_at(double seconds) { return std::size_t(std::max(0.0, std::nearbyint(seconds * fs))); }

/// Gains of an equal-power pan position, -1 (left) … +1 (right).
std::array<double, 2> pan_gains(double pan) {
    const double angle = (pan + 1.0) * pi / 4.0;
    return {std::cos(angle), std::sin(angle)};
}

/// Where the instruments go: the dry mix and the send to the room.
struct TBus {
    TStereo dry, send;
    explicit TBus(std::size_t n) {
        dry.left.assign(n, 0.0);
        dry.right.assign(n, 0.0);
        send.left.assign(n, 0.0);
        send.right.assign(n, 0.0);
    }
    /// Mixes a mono voice in from frame start; what runs past the end is cut.
    void add(std::size_t start, const std::vector<double>& voice, double gain, double pan, double send_gain) {
        const auto g = pan_gains(pan);
        const std::size_t n = dry.size();
        for (std::size_t i = 0; i < voice.size() && start + i < n; ++i) {
            const double v = voice[i] * gain;
            dry.left[start + i] += v * g[0];
            dry.right[start + i] += v * g[1];
            send.left[start + i] += v * g[0] * send_gain;
            send.right[start + i] += v * g[1] * send_gain;
        }
    }
};

// ------------------------------------------------------------------ drums

std::vector<double> kick(TNoise& noise) {
    std::vector<double> v(frame_at(0.45));
    double phase = 0.0;
    for (std::size_t i = 0; i < v.size(); ++i) {
        const double t = i / fs;
        const double f = 48.0 + 110.0 * std::exp(-t / 0.03);  // the falling pitch of a struck skin
        phase += 2.0 * pi * f / fs;
        const double body = std::sin(phase) * std::exp(-t / 0.16) * std::min(1.0, t / 0.001);
        const double click = 0.25 * noise.next() * std::exp(-t / 0.0015);
        v[i] = body + click;
    }
    return v;
}

std::vector<double> snare(TNoise& noise) {
    std::vector<double> v(frame_at(0.35));
    double hp = 0.0, prev = 0.0, lp = 0.0;
    for (std::size_t i = 0; i < v.size(); ++i) {
        const double t = i / fs;
        const double body = 0.55 * std::sin(2 * pi * 185.0 * t) * std::exp(-t / 0.05) +
                            0.25 * std::sin(2 * pi * 330.0 * t) * std::exp(-t / 0.035);
        // Snare wires: noise above a few hundred hertz, softened at the top.
        const double n = noise.next();
        hp = 0.92 * (hp + n - prev);
        prev = n;
        lp += 0.55 * (hp - lp);
        const double wires = 0.7 * lp * std::exp(-t / 0.12);
        v[i] = (body + wires) * std::min(1.0, t / 0.0005);
    }
    return v;
}

std::vector<double> hihat(TNoise& noise, bool open) {
    const double decay = open ? 0.11 : 0.016;
    std::vector<double> v(frame_at(open ? 0.45 : 0.09));
    double n1 = 0.0, d1 = 0.0;
    for (std::size_t i = 0; i < v.size(); ++i) {
        const double t = i / fs;
        // Twice differentiated noise: nearly all of its energy is high up.
        const double n = noise.next();
        const double d = n - n1;
        const double dd = d - d1;
        n1 = n;
        d1 = d;
        v[i] = 0.25 * dd * std::exp(-t / decay) * std::min(1.0, t / 0.0003);
    }
    return v;
}

// ------------------------------------------------------------- pitched parts

/// Adds sin(kθ) for k = 1 … amps.size() weighted by amps, by the Chebyshev
/// recurrence (one sine and one cosine per sample however many harmonics).
double harmonics(double theta, const double* amps, int count) {
    const double c2 = 2.0 * std::cos(theta);
    double s_prev = 0.0, s = std::sin(theta), sum = 0.0;
    for (int k = 0; k < count; ++k) {
        sum += amps[k] * s;
        const double s_next = c2 * s - s_prev;
        s_prev = s;
        s = s_next;
    }
    return sum;
}

/// A plucked electric bass note: bright at the attack, darker as it rings.
std::vector<double> bass_note(int note, double seconds) {
    constexpr int count = 8;
    const double f = midi_hz(note);
    const double release = 0.04;
    std::vector<double> v(frame_at(seconds + release));
    double phase = 0.0;
    double amps[count];
    for (std::size_t i = 0; i < v.size(); ++i) {
        const double t = i / fs;
        const double dark = 0.35 + 0.8 * (1.0 - std::exp(-t / 0.1));
        for (int k = 0; k < count; ++k) amps[k] = std::exp(-k * dark) / (k + 1);
        double env = std::min(1.0, t / 0.004) * (0.45 + 0.55 * std::exp(-t / 0.16));
        if (t > seconds) env *= std::max(0.0, 1.0 - (t - seconds) / release);
        phase += 2.0 * pi * f / fs;
        if (phase > 2.0 * pi) phase -= 2.0 * pi;
        v[i] = env * harmonics(phase, amps, count);
    }
    return v;
}

/// A pad chord: per note two softened sawtooths a few cents apart, one
/// leaning left and one right, with a slow swell and release.
void pad_chord(TStereo& dry, TStereo& send, const std::array<int, 4>& notes, double start, double seconds,
               double gain, double send_gain) {
    constexpr int max_count = 24;
    constexpr double attack = 0.35, release = 0.5;
    const std::size_t first = frame_at(start);
    const std::size_t length = frame_at(seconds + release);
    const std::size_t n = dry.size();
    for (std::size_t v = 0; v < notes.size(); ++v) {
        for (int side = 0; side < 2; ++side) {
            const double f = midi_hz(notes[v]) * std::pow(2.0, (side ? 7.0 : -7.0) / 1200.0);
            double amps[max_count];
            int count = 0;
            while (count < max_count && (count + 1) * f < 4000.0) {
                const double fk = (count + 1) * f;
                amps[count] = 1.0 / ((count + 1) * (1.0 + (fk / 900.0) * (fk / 900.0)));
                ++count;
            }
            // Voices alternate their lean so that the chord spreads wide.
            const double pan = ((v + side) % 2 == 0) ? -0.6 : 0.6;
            const auto g = pan_gains(pan);
            double phase = 0.37 * double(v) + 1.1 * side;  // no two voices start together
            for (std::size_t i = 0; i < length && first + i < n; ++i) {
                const double t = i / fs;
                double env = t < attack ? std::pow(std::sin(0.5 * pi * t / attack), 2) : 1.0;
                if (t > seconds) env *= std::pow(std::cos(0.5 * pi * std::min(1.0, (t - seconds) / release)), 2);
                env *= 1.0 + 0.08 * std::sin(2 * pi * 0.4 * (start + t) + v);  // a slow breath
                phase += 2.0 * pi * f / fs;
                if (phase > 2.0 * pi) phase -= 2.0 * pi;
                const double s = gain * env * harmonics(phase, amps, count);
                dry.left[first + i] += s * g[0];
                dry.right[first + i] += s * g[1];
                send.left[first + i] += s * g[0] * send_gain;
                send.right[first + i] += s * g[1] * send_gain;
            }
        }
    }
}

// -------------------------------------------------------------------- room

/// A small room: per channel four damped feedback combs in parallel and two
/// allpasses in series, the right channel's delays a little longer.
class TRoom {
public:
    explicit TRoom(int spread) {
        const int combs[4] = {1116, 1188, 1277, 1356};
        for (int i = 0; i < 4; ++i) fcomb[i].assign(std::size_t(combs[i] + spread), 0.0);
        fap[0].assign(std::size_t(556 + spread), 0.0);
        fap[1].assign(std::size_t(441 + spread), 0.0);
    }
    double step(double x) {
        double sum = 0.0;
        for (int i = 0; i < 4; ++i) {
            auto& line = fcomb[i];
            const std::size_t p = fcombpos[i];
            const double out = line[p];
            fdamp[i] = out * 0.75 + fdamp[i] * 0.25;
            line[p] = x + fdamp[i] * 0.8;
            fcombpos[i] = (p + 1) % line.size();
            sum += out;
        }
        for (int i = 0; i < 2; ++i) {
            auto& line = fap[i];
            const std::size_t p = fappos[i];
            const double buffered = line[p];
            const double out = buffered - 0.5 * sum;
            line[p] = sum + 0.5 * buffered;
            fappos[i] = (p + 1) % line.size();
            sum = out;
        }
        return 0.25 * sum;
    }

private:
    std::vector<double> fcomb[4];
    std::size_t fcombpos[4] = {};
    double fdamp[4] = {};
    std::vector<double> fap[2];
    std::size_t fappos[2] = {};
};

}  // namespace

TStereo make_demo_song() {
    TNoise noise(0x5741565245'4C4Cull);  // fixed seed: the file is the same on every build
    TBus bus(demo_frames);

    // Am F C G twice, then a closing Am.
    const std::array<std::array<int, 4>, 4> chords = {{
        {57, 60, 64, 69},  // A minor
        {53, 57, 60, 65},  // F major
        {55, 60, 64, 67},  // C major
        {55, 59, 62, 67},  // G major
    }};
    const int roots[4] = {45, 41, 36, 43};  // A2 F2 C2 G2

    // Bass line in sixteenths: start step, length in steps, octave up.
    struct TBassHit { int step, length; bool octave; };
    const TBassHit bass_line[] = {{0, 3, false}, {3, 1, false}, {6, 2, false}, {8, 2, true},
                                  {10, 2, false}, {12, 1, false}, {14, 2, false}};

    for (int bar = 0; bar < bars; ++bar) {
        const double bar_start = bar * bar_seconds;
        const bool closing = bar == bars - 1;
        const int chord = bar % 4;

        const double pad_length = closing ? (20.0 - bar_start - 0.75) : bar_seconds;
        pad_chord(bus.dry, bus.send, chords[std::size_t(chord)], bar_start, pad_length, 0.06, 0.35);

        if (closing) {
            bus.add(frame_at(bar_start), kick(noise), 1.15, 0.0, 0.05);
            bus.add(frame_at(bar_start), hihat(noise, true), 0.8, 0.4, 0.3);
            bus.add(frame_at(bar_start), bass_note(roots[chord], 1.6), 0.42, 0.0, 0.03);
            break;
        }

        for (const TBassHit& hit : bass_line) {
            const double at = bar_start + hit.step * step_seconds;
            const double seconds = hit.length * step_seconds * 0.9;
            bus.add(frame_at(at), bass_note(roots[chord] + (hit.octave ? 12 : 0), seconds),
                    0.42 * noise.around_one(0.08), 0.0, 0.03);
        }

        for (int step = 0; step < 16; ++step) {
            const double at = bar_start + step * step_seconds;
            // The kick sits on the grid; snare and hats drift a little, as a
            // drummer's hands do.
            const std::size_t frame = frame_at(at + 0.002 * noise.next() + 0.002);

            const bool kick_hit = step == 0 || step == 8 || (bar % 2 == 1 && step == 10);
            if (kick_hit) bus.add(frame_at(at), kick(noise), 1.15 * noise.around_one(0.05), 0.0, 0.05);

            const bool fill = bar == 3 && step >= 13;
            const bool backbeat = (step == 4 || step == 12) && bar > 0;
            const bool ghost = bar > 0 && step == 7 && bar % 2 == 0;
            if (backbeat || fill || ghost) {
                const double strength = backbeat ? 1.0 : fill ? 0.45 + 0.15 * (step - 13) : 0.25;
                bus.add(frame, snare(noise), 0.8 * strength * noise.around_one(0.06), -0.15, 0.3);
            }

            const bool open_hat = step == 14 && bar % 2 == 1;
            if (step % 2 == 0 || (step % 4 == 3 && bar >= 4)) {
                const double strength = step % 4 == 0 ? 1.0 : step % 2 == 0 ? 0.7 : 0.45;
                bus.add(frame, hihat(noise, open_hat), 0.55 * strength * noise.around_one(0.12), 0.4, 0.1);
            }
        }
    }

    TRoom left_room(0), right_room(23);
    TStereo mix = std::move(bus.dry);
    for (std::size_t i = 0; i < mix.size(); ++i) {
        mix.left[i] += 0.5 * left_room.step(bus.send.left[i]);
        mix.right[i] += 0.5 * right_room.step(bus.send.right[i]);
    }

    // The kick's falling pitch leaves a little offset; a 20 Hz high-pass, as
    // in any mastering chain, takes it away.
    const double hp = std::exp(-2.0 * pi * 20.0 / fs);
    for (std::vector<double>* ch : {&mix.left, &mix.right}) {
        double x1 = 0.0, y1 = 0.0;
        for (double& v : *ch) {
            const double y = hp * (y1 + v - x1);
            x1 = v;
            y1 = y;
            v = y;
        }
    }

    // The room's tail ends with the file, not abruptly.
    const std::size_t fade = frame_at(0.05);
    for (std::size_t i = 0; i < fade; ++i) {
        const double g = double(i) / double(fade);
        mix.left[mix.size() - 1 - i] *= g;
        mix.right[mix.size() - 1 - i] *= g;
    }

    double peak = 0.0;
    for (std::size_t i = 0; i < mix.size(); ++i) peak = std::max({peak, std::abs(mix.left[i]), std::abs(mix.right[i])});
    const double scale = peak > 0.0 ? std::pow(10.0, -1.0 / 20.0) / peak : 1.0;
    for (std::size_t i = 0; i < mix.size(); ++i) {
        mix.left[i] *= scale;
        mix.right[i] *= scale;
    }
    return mix;
}

}  // namespace wavrell
