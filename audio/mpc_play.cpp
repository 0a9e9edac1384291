#include "audio/mpc_play.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <numbers>

namespace wavrell {

/// The hidden receiver of the device's notices; its event handler is the
/// player's wndproc. Other events get the default handling.
class TMPCPlay::Receiver : public QObject {
public:
    explicit Receiver(TMPCPlay* player) : fplayer(player) {}
    bool event(QEvent* e) override {
        if (e->type() != TWaveOutEvent::eventType()) return QObject::event(e);
        const auto* ev = static_cast<TWaveOutEvent*>(e);
        TMPCMessage msg;
        msg.Msg = ev->msg();
        msg.WParam = ev->wParam();
        msg.LParam = ev->lParam();
        fplayer->wndproc(msg);
        return true;
    }

private:
    TMPCPlay* fplayer;
};

TMPCPlay::TMPCPlay(QObject* aowner)
    : QObject(aowner),
      fhandle(std::make_unique<Receiver>(this)),
      fwaveouthandle(std::make_unique<TWaveOutDevice>()) {
    setNChans(1);
    setSfTot(16000);
    setNBuffers(4);
    setNChunkSamples(4096);
    fdeviceid = WAVE_MAPPER;
    read_devicenames();
}

TMPCPlay::~TMPCPlay() {
    // Queued buffers point into the ring: the device must let go of them
    // before the ring is freed.
    try {
        close_board();
    } catch (...) {
        // The device object below tears the stream down regardless.
    }
    fwaveouthandle.reset();
}

void TMPCPlay::raise(const char* call, int code) const {
    throw EMPCError(QString::fromLatin1(call) + ErrorText(code));
}

void TMPCPlay::make_wavefmt() {
    fwavefmt.wFormatTag = 1;
    fwavefmt.nChannels = static_cast<uint16_t>(fnchans);
    fwavefmt.nSamplesPerSec = static_cast<uint32_t>(fsftot / fnchans);
    fwavefmt.wBitsPerSample = 16;
    fwavefmt.nAvgBytesPerSec = uint32_t(fwavefmt.nChannels) * fwavefmt.nSamplesPerSec * 16 / 8;
    fwavefmt.nBlockAlign = static_cast<uint16_t>(fwavefmt.nChannels * 16 / 8);
    fwavefmt.cbSize = 0;
}

void TMPCPlay::setNChans(int32_t value) {
    if (fownboard) throw EMPCError(QStringLiteral("Cannot change nChans while owning board"));
    fnchans = std::max(value, 1);
    make_wavefmt();
}

void TMPCPlay::setSfTot(int32_t value) {
    if (fownboard) throw EMPCError(QStringLiteral("Cannot change sfTot while owning board"));
    fsftot = std::max(value, 1);
    make_wavefmt();
}

// Queued buffers point into the ring, so its shape is fixed while the
// device is open.
void TMPCPlay::setNBuffers(int32_t value) {
    if (fownboard) throw EMPCError(QStringLiteral("Cannot change nBuffers while owning board"));
    fnbufs = std::clamp(value, 1, MaxBuffers);
    resize_ring();
}

void TMPCPlay::setNChunkSamples(int32_t value) {
    if (fownboard) throw EMPCError(QStringLiteral("Cannot change nChunkSamples while owning board"));
    fnchunksamples = std::max(value, 1);
    resize_ring();
}

void TMPCPlay::resize_ring() {
    farr.resize(size_t(fnbufs));
    waveheader.resize(size_t(fnbufs));
    fwithdrawn.resize(size_t(fnbufs));
    for (TWaveChunk& c : farr) c.assign(size_t(std::max(fnchunksamples, 0)), 0);
}

uint16_t TMPCPlay::LeftVolume() const {
    uint32_t w = 0;
    TWaveOutDevice::getVolume(fdeviceid, &w);
    return static_cast<uint16_t>(w & 0xFFFF);
}

void TMPCPlay::setLeftVolume(uint16_t value) {
    uint32_t w = 0;
    TWaveOutDevice::getVolume(fdeviceid, &w);
    TWaveOutDevice::setVolume(fdeviceid, (w & 0xFFFF0000u) | value);
}

uint16_t TMPCPlay::RightVolume() const {
    uint32_t w = 0;
    TWaveOutDevice::getVolume(fdeviceid, &w);
    return static_cast<uint16_t>(w >> 16);
}

void TMPCPlay::setRightVolume(uint16_t value) {
    uint32_t w = 0;
    TWaveOutDevice::getVolume(fdeviceid, &w);
    TWaveOutDevice::setVolume(fdeviceid, (w & 0xFFFFu) | (uint32_t(value) << 16));
}

void TMPCPlay::setBothVolume(uint16_t value) {
    TWaveOutDevice::setVolume(fdeviceid, uint32_t(value) * 0x10001u);
}

int32_t TMPCPlay::nDevices() const {
    return TWaveOutDevice::numDevs();
}

QString TMPCPlay::ErrorText(int errornumber) const {
    return TWaveOutDevice::errorText(errornumber).left(127);
}

void TMPCPlay::read_devicenames() {
    fdevicenames.clear();
    make_wavefmt();
    fdevicenames = TWaveOutDevice::deviceNames();
}

void TMPCPlay::setCrossfade(double seconds) {
    fcrossfade = std::isfinite(seconds) ? std::clamp(seconds, 0.0, 1.0) : 0.0;
    reserve_fade();
}

void TMPCPlay::setDip(double seconds) {
    fdip = std::isfinite(seconds) ? std::clamp(seconds, 0.0, 1.0) : 0.0;
    reserve_fade();
}

void TMPCPlay::reserve_fade() {
    // Sized here, so that a switch while streaming allocates nothing; never
    // shrunk, as a seam may be under way.
    const size_t need = size_t(std::max(crossfade_frames(), dip_frames())) * size_t(fnchans);
    if (ffadeold.size() < need) ffadeold.resize(need);
}

int32_t TMPCPlay::crossfade_frames() const {
    return int32_t(std::nearbyint(fcrossfade * fwavefmt.nSamplesPerSec));
}

int32_t TMPCPlay::dip_frames() const {
    return int32_t(std::nearbyint(fdip * fwavefmt.nSamplesPerSec));
}

int64_t TMPCPlay::HeardFrame() const {
    if (!fownboard) return fstreamframe;
    // Nothing plays while Run fills the ring (the server's time may count
    // what it has taken already).
    if (fstarting) return 0;
    int64_t heard = 0;
    // Before the server's first report nothing has been heard.
    if (fwaveouthandle->position(&heard) != 0) return 0;
    return std::clamp<int64_t>(heard, 0, fstreamframe);
}

bool TMPCPlay::open_board() {
    if (fwaveouthandle->isOpen()) return false;
    // The server holds at most the ring less two chunks, so that some sound
    // always waits in the ring for the slots that come free.
    const double ring = double(fnbufs - 2) * fnchunksamples / fsftot;
    const double seconds = std::min(ServerBuffer, std::max(ring, 0.0));
    const uint32_t serverFrames = uint32_t(std::max(1.0, std::nearbyint(seconds * fwavefmt.nSamplesPerSec)));
    const int r = fwaveouthandle->open(fdeviceid, fwavefmt, fhandle.get(), serverFrames * fwavefmt.nBlockAlign);
    if (r) raise("WaveOutOpen:", r);
    fownboard = true;
    return true;
}

void TMPCPlay::Run() {
    if (!OnStash) throw EMPCError(QStringLiteral("Nothing assigned to OnStash!"));
    if (fownboard) throw EMPCError(QStringLiteral("Already playing"));
    sendnomore = false;
    fstreamframe = 0;
    ffadelen = ffadedone = 0;
    fdipping = false;
    reserve_fade();
    // Every slot at its full length with room for a silent frame, so that
    // nothing is allocated from here until the device is closed.
    for (TWaveChunk& c : farr) {
        c.reserve(size_t(std::max(fnchunksamples, fnchans)));
        c.resize(size_t(fnchunksamples));
    }
    open_board();
    fwaveouthandle->pause();
    try {
        fstarting = true;
        struct Clear {
            bool& flag;
            ~Clear() { flag = false; }
        } clear{fstarting};
        for (int i = 0; i < fnbufs; ++i) send_chunk(i, fnchunksamples);
    } catch (...) {
        // An error of the owner's stash or of queueing costs only that slot:
        // what is queued plays and the ring goes on.
        fwaveouthandle->restart();
        throw;
    }
    fwaveouthandle->restart();
}

void TMPCPlay::send_chunk(int index, int32_t want) {
    if (sendnomore) return;
    TWaveChunk& arr = farr[size_t(index)];
    if (arr.size() != size_t(fnchunksamples)) arr.resize(size_t(fnchunksamples));
    want = std::clamp(want, 0, fnchunksamples);
    int32_t used = want;
    {
        finstash = true;
        struct Clear {
            bool& flag;
            ~Clear() { flag = false; }
        } clear{finstash};
        OnStash(arr, used, sendnomore);
    }
    if (!fownboard) return;

    // A count beyond what was asked for, below 0 or of part of a frame is
    // cut to that and to whole frames, so the device never reads past the
    // array or shifts the channels.
    used = std::clamp(used, 0, want);
    used -= used % fnchans;
    if (used == 0) {
        sendnomore = true;
        if (arr.size() < size_t(fnchans)) arr.resize(size_t(fnchans));
        std::fill_n(arr.begin(), fnchans, int16_t(0));
        used = fnchans;
    } else if (fdipping ? ffadedone < 2 * dip_frames() : ffadedone < ffadelen) {
        mix_crossfade(arr, used);
    }

    // The device takes the samples as little-endian bytes, as they lie in
    // memory on the machines this runs on.
    TWaveHeader& h = waveheader[size_t(index)];
    h.lpData = reinterpret_cast<char*>(arr.data());
    h.dwBufferLength = uint32_t(used) * 2;
    h.dwBytesRecorded = 0;
    h.dwLoops = 1;
    h.dwFlags = 0;
    h.dwUser = sendnomore ? EndMarker : uintptr_t(index);
    if (const int r = fwaveouthandle->prepareHeader(&h)) raise("WaveOutPrepareHeader:", r);
    if (const int r = fwaveouthandle->write(&h)) raise("WaveOutWrite:", r);
    fstreamframe += used / fnchans;
}

int64_t TMPCPlay::Requeue() {
    if (!fownboard || sendnomore || finstash) return fstreamframe;
    // The old frames the first new ones replace come back with them, for
    // the crossfade.
    fdipping = dip_frames() > 0;
    const int32_t fade = fdipping ? dip_frames() : crossfade_frames();
    const size_t fadevalues = std::min(ffadeold.size(), size_t(fade) * size_t(fnchans));
    TWithdrawal taken;
    if (const int r = fwaveouthandle->withdraw(fwithdrawn.data(), fwithdrawn.size(), &taken,
                                               reinterpret_cast<char*>(ffadeold.data()), uint32_t(fadevalues * 2)))
        raise("WaveOutWithdraw:", r);
    fstreamframe = int64_t(taken.resumeByte / fwavefmt.nBlockAlign);
    ffadedone = 0;
    ffadelen = int32_t(taken.oldBytes / fwavefmt.nBlockAlign);

    const int64_t k = fstreamframe;
    if (OnRequeue) {
        finstash = true;
        struct Clear {
            bool& flag;
            ~Clear() { flag = false; }
        } clear{finstash};
        OnRequeue(k);
    }
    // Every slot taken back is filled again at once, so that the server's
    // part taken back is replaced before the ear reaches it.
    for (size_t i = 0; i < taken.count && fownboard; ++i)
        send_chunk(int(fwithdrawn[i] - waveheader.data()), fnchunksamples);
    return k;
}

void TMPCPlay::mix_crossfade(TWaveChunk& arr, int32_t used) {
    const int32_t frames = used / fnchans;
    if (fdipping) {
        // The old frames fade out, then the new ones fade in.
        const int32_t n = dip_frames();
        for (int32_t j = 0; j < frames && ffadedone < 2 * n; ++j, ++ffadedone) {
            const bool out = ffadedone < n;
            const double x = std::numbers::pi * (out ? ffadedone : ffadedone - n) / (2.0 * n);
            const double g = out ? std::cos(x) * std::cos(x) : std::sin(x) * std::sin(x);
            for (int32_t ch = 0; ch < fnchans; ++ch) {
                const size_t at = size_t(j) * size_t(fnchans) + size_t(ch);
                const double v = !out                   ? arr[at]
                                 : ffadedone < ffadelen ? ffadeold[size_t(ffadedone) * size_t(fnchans) + size_t(ch)]
                                                        : 0.0;
                arr[at] = int16_t(std::nearbyint(v * g));
            }
        }
        return;
    }
    const double N = ffadelen;
    for (int32_t j = 0; j < frames && ffadedone < ffadelen; ++j, ++ffadedone) {
        const double x = std::numbers::pi * ffadedone / (2 * N);
        const double c = std::cos(x), s = std::sin(x);
        for (int32_t ch = 0; ch < fnchans; ++ch) {
            const size_t at = size_t(j) * size_t(fnchans) + size_t(ch);
            const double old = ffadeold[size_t(ffadedone) * size_t(fnchans) + size_t(ch)];
            arr[at] = int16_t(std::nearbyint(old * c * c + arr[at] * s * s));
        }
    }
}

void TMPCPlay::wndproc(TMPCMessage& Msg) {
    if (OnMsg) OnMsg(Msg);
    switch (Msg.Msg) {
        case MM_WOM_OPEN:
            if (OnOpened) OnOpened();
            break;
        case MM_WOM_CLOSE:
            if (OnClosed) OnClosed();
            break;
        case MM_WOM_DONE: {
            // Buffers returned by a reset report after the close; a notice of
            // an earlier session must not refill a slot of the present one.
            if (!fownboard || Msg.WParam != fwaveouthandle->handle()) break;
            auto* h = reinterpret_cast<TWaveHeader*>(Msg.LParam);
            if (waveheader.empty() || h < waveheader.data() || h >= waveheader.data() + waveheader.size())
                break;
            const uintptr_t user = h->dwUser;
            if (const int r = fwaveouthandle->unprepareHeader(h)) raise("WaveOutUnPrepareHeader:", r);
            if (user == EndMarker)
                close_board();
            else if (user < waveheader.size())
                send_chunk(int(user), fnchunksamples);
            break;
        }
        default:
            break;
    }
}

void TMPCPlay::close_board() {
    if (!fownboard) return;
    if (const int r = fwaveouthandle->reset()) raise("WaveOutReset:", r);
    for (TWaveHeader& h : waveheader)
        if (const int r = fwaveouthandle->unprepareHeader(&h)) raise("WaveOutUnPrepareHeader:", r);
    if (const int r = fwaveouthandle->close()) raise("WaveOutClose:", r);
    fownboard = false;
}

}  // namespace wavrell
