#include "audio/mpc_play.h"

#include <algorithm>
#include <climits>

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

bool TMPCPlay::open_board() {
    if (fwaveouthandle->isOpen()) return false;
    const int r = fwaveouthandle->open(fdeviceid, fwavefmt, fhandle.get(),
                                       uint32_t(fnchunksamples) * 2);
    if (r) raise("WaveOutOpen:", r);
    fownboard = true;
    return true;
}

void TMPCPlay::Run() {
    if (!OnStash) throw EMPCError(QStringLiteral("Nothing assigned to OnStash!"));
    if (fownboard) throw EMPCError(QStringLiteral("Already playing"));
    sendnomore = false;
    // Every slot at its full length with room for a silent frame, so that
    // nothing is allocated from here until the device is closed.
    for (TWaveChunk& c : farr) {
        c.reserve(size_t(std::max(fnchunksamples, fnchans)));
        c.resize(size_t(fnchunksamples));
    }
    open_board();
    fwaveouthandle->pause();
    try {
        for (int i = 0; i < fnbufs; ++i) send_chunk(i);
    } catch (...) {
        // An error of the owner's stash or of queueing costs only that slot:
        // what is queued plays and the ring goes on.
        fwaveouthandle->restart();
        throw;
    }
    fwaveouthandle->restart();
}

void TMPCPlay::send_chunk(int index) {
    if (sendnomore) return;
    TWaveChunk& arr = farr[size_t(index)];
    if (arr.size() != size_t(fnchunksamples)) arr.resize(size_t(fnchunksamples));
    int32_t used = fnchunksamples;
    OnStash(arr, used, sendnomore);
    if (!fownboard) return;

    // A count beyond the chunk, below 0 or of part of a frame is cut to the
    // chunk and to whole frames, so the device never reads past the array or
    // shifts the channels.
    const int32_t len = static_cast<int32_t>(std::min<size_t>(arr.size(), INT32_MAX));
    used = std::clamp(used, 0, len);
    used -= used % fnchans;
    if (used == 0) {
        sendnomore = true;
        if (arr.size() < size_t(fnchans)) arr.resize(size_t(fnchans));
        std::fill_n(arr.begin(), fnchans, int16_t(0));
        used = fnchans;
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
                send_chunk(int(user));
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
