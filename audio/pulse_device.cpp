#include "audio/pulse_device.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <pulse/error.h>
#include <pulse/mainloop.h>
#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>
#include <pulse/thread-mainloop.h>

#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

namespace wavrell {

namespace {

// How long a call waits for the server before it gives up (PA_ERR_TIMEOUT).
constexpr pa_usec_t kServerWait = 5 * PA_USEC_PER_SEC;
// The least sound the server is asked to hold.
constexpr pa_usec_t kMinServerBuffer = 25 * PA_USEC_PER_MSEC;
// The server is asked for sound in steps of about this much.
constexpr pa_usec_t kServerRequest = 10 * PA_USEC_PER_MSEC;
// What withdraw() leaves in the server ahead of the ear: the time its
// request takes to reach the server and the server's own read-ahead.
constexpr pa_usec_t kWithdrawMargin = 30 * PA_USEC_PER_MSEC;
// Queue places: the player's ring has at most 1000 slots.
constexpr size_t kQueueSize = 1024;
// Notices waiting for the GUI thread; stale ones of closed sessions count too.
constexpr size_t kNoticeSize = 4096;

const char* client_name() { return "Wavrell"; }

// 16-bit volume (0xFFFF full) to the server's volume units (PA_VOLUME_NORM
// full) and back; the two maps are exact inverses on 0..0xFFFF.
pa_volume_t to_pa_volume(uint32_t v) {
    return static_cast<pa_volume_t>((uint64_t(v & 0xFFFF) * PA_VOLUME_NORM + 0x7FFF) / 0xFFFF);
}

bool is_left(pa_channel_position_t p) {
    return p == PA_CHANNEL_POSITION_FRONT_LEFT || p == PA_CHANNEL_POSITION_REAR_LEFT ||
           p == PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER || p == PA_CHANNEL_POSITION_SIDE_LEFT ||
           p == PA_CHANNEL_POSITION_TOP_FRONT_LEFT || p == PA_CHANNEL_POSITION_TOP_REAR_LEFT;
}

bool is_right(pa_channel_position_t p) {
    return p == PA_CHANNEL_POSITION_FRONT_RIGHT || p == PA_CHANNEL_POSITION_REAR_RIGHT ||
           p == PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER || p == PA_CHANNEL_POSITION_SIDE_RIGHT ||
           p == PA_CHANNEL_POSITION_TOP_FRONT_RIGHT || p == PA_CHANNEL_POSITION_TOP_REAR_RIGHT;
}

pa_cvolume make_cvolume(const pa_channel_map& map, uint32_t word) {
    const pa_volume_t left = to_pa_volume(word & 0xFFFF);
    const pa_volume_t right = to_pa_volume(word >> 16);
    pa_cvolume cv;
    pa_cvolume_init(&cv);
    cv.channels = map.channels;
    for (unsigned i = 0; i < map.channels; ++i) {
        const pa_channel_position_t pos = map.map[i];
        if (map.channels == 1 || is_left(pos))
            cv.values[i] = left;
        else if (is_right(pos))
            cv.values[i] = right;
        else
            cv.values[i] = (left + right) / 2;
    }
    return cv;
}

// The process's stream volume and the open devices it applies to.
std::mutex gvolumelock;
uint32_t gvolume = 0xFFFFFFFFu;
std::vector<TWaveOutDevice::Private*> gopen;

std::atomic<uint64_t> gunderruns{0};
QString glastdevice;  // under gvolumelock

}  // namespace

QEvent::Type TWaveOutEvent::eventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

// ---------------------------------------------------------------------------
// The stream and its queue. Everything below is touched only with the
// threaded main loop's lock held (the library's callbacks run with it held).

struct TWaveOutDevice::Private {
    TWaveOutDevice* owner = nullptr;
    pa_threaded_mainloop* ml = nullptr;
    pa_context* ctx = nullptr;
    pa_stream* stream = nullptr;
    pa_channel_map map{};
    size_t frame = 2;
    uint32_t rate = 1;

    std::vector<TWaveHeader*> fifo = std::vector<TWaveHeader*>(kQueueSize);
    size_t head = 0;
    size_t count = 0;
    uint32_t offset = 0;              // bytes of the front buffer handed over
    uint64_t handed = 0;              // bytes handed to the server this session
    // The last bytes handed over, by their place in the stream (byte i at
    // i % size): what withdraw() takes back from the server's buffer.
    std::vector<char> history;
    int64_t seek = 0;                 // to apply at the next write: back to where a withdraw resumes
    uint32_t target = 0;              // bytes the server is to hold ahead of the ear
    uint32_t margin = 0;              // bytes ahead of the ear that withdraw leaves alone
    TWaveHeader* pending = nullptr;   // handed over, left the queue empty: done when drained
    pa_operation* drainop = nullptr;

    bool timed_out = false;
    pa_time_event* timer = nullptr;

    void post_done(TWaveHeader* h) {
        h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        owner->push_notice(MM_WOM_DONE, reinterpret_cast<quintptr>(h));
    }

    void cancel_drain() {
        if (drainop) {
            pa_operation_cancel(drainop);
            pa_operation_unref(drainop);
            drainop = nullptr;
        }
    }

    // The pending buffer is no longer the last one: it has been handed over.
    void release_pending() {
        cancel_drain();
        if (pending) {
            TWaveHeader* h = pending;
            pending = nullptr;
            post_done(h);
        }
    }

    static void drain_cb(pa_stream*, int, void* userdata) {
        auto* p = static_cast<Private*>(userdata);
        if (p->drainop) {
            pa_operation_unref(p->drainop);
            p->drainop = nullptr;
        }
        if (p->pending) {
            TWaveHeader* h = p->pending;
            p->pending = nullptr;
            p->post_done(h);
        }
    }

    // Hands queued sound to the server as far as it asks for it.
    void feed() {
        if (!stream || pa_stream_get_state(stream) != PA_STREAM_READY) return;
        while (count > 0) {
            TWaveHeader* h = fifo[head];
            if (offset < h->dwBufferLength) {
                size_t want = pa_stream_writable_size(stream);
                if (want == size_t(-1)) break;
                // The server's requests do not count a write that seeks
                // back; the buffer is kept full by what is ahead of the ear
                // too, so that what a withdraw took back is replaced at once.
                want = std::max<size_t>(want, target - std::min<uint64_t>(target, unheard()));
                if (want < frame) break;
                want = std::min<size_t>(want, h->dwBufferLength - offset);
                void* buf = nullptr;
                size_t size = want;
                if (pa_stream_begin_write(stream, &buf, &size) < 0 || !buf) break;
                size = std::min(size, want);
                size -= size % frame;
                if (size == 0) {
                    pa_stream_cancel_write(stream);
                    break;
                }
                std::memcpy(buf, h->lpData + offset, size);
                if (pa_stream_write(stream, buf, size, nullptr, seek, PA_SEEK_RELATIVE) < 0) break;
                seek = 0;
                remember(h->lpData + offset, size);
                offset += static_cast<uint32_t>(size);
                handed += size;
            }
            if (offset >= h->dwBufferLength) {
                head = (head + 1) % fifo.size();
                --count;
                offset = 0;
                if (count == 0)
                    pending = h;  // reported when drained or when more is queued
                else
                    post_done(h);
            }
        }
        maybe_drain();
    }

    // Bytes handed over and not yet heard.
    uint64_t unheard() const {
        pa_usec_t usec = 0;
        if (pa_stream_get_time(stream, &usec) != 0) return handed;
        const uint64_t heard = pa_usec_to_bytes(usec, pa_stream_get_sample_spec(stream));
        return handed > heard ? handed - heard : 0;
    }

    void remember(const char* data, size_t size) {
        if (history.empty()) return;
        for (size_t i = 0; i < size;) {
            const size_t at = size_t((handed + i) % history.size());
            const size_t run = std::min(size - i, history.size() - at);
            std::memcpy(history.data() + at, data + i, run);
            i += run;
        }
    }

    // The last sound queued is reported once it has been heard, so that a
    // final buffer is not cut off by the close. The drain starts only when
    // the server asks for more than there is: during an ordinary refill the
    // next buffer arrives first.
    void maybe_drain() {
        if (!pending || drainop || count > 0) return;
        const size_t want = pa_stream_writable_size(stream);
        if (want == size_t(-1) || want == 0) return;
        drainop = pa_stream_drain(stream, &Private::drain_cb, this);
        if (!drainop) release_pending();
    }

    static void write_cb(pa_stream*, size_t, void* userdata) { static_cast<Private*>(userdata)->feed(); }

    // The server holds only a few tens of milliseconds, so this thread must
    // answer its requests within some milliseconds even when busy programs
    // run beside it: it asks for the lowest real-time priority (below the
    // server's own), which it is granted where the user may have it. It
    // only copies queued sound, so it cannot starve the machine. Runs on
    // the library's thread.
    static void raise_priority_cb(pa_mainloop_api*, void*) {
        sched_param sp{};
        sp.sched_priority = sched_get_priority_min(SCHED_RR);
        // 0: the calling thread; children of a fork start at normal priority.
        sched_setscheduler(0, SCHED_RR | SCHED_RESET_ON_FORK, &sp);
    }

    // Running dry while a drain is waiting is the end of the stream, not a dropout.
    static void underflow_cb(pa_stream*, void* userdata) {
        if (!static_cast<Private*>(userdata)->pending) ++gunderruns;
    }

    static void signal_cb(pa_context*, void* userdata) {
        pa_threaded_mainloop_signal(static_cast<Private*>(userdata)->ml, 0);
    }
    static void stream_signal_cb(pa_stream*, void* userdata) {
        pa_threaded_mainloop_signal(static_cast<Private*>(userdata)->ml, 0);
    }
    static void success_cb(pa_context*, int, void* userdata) {
        pa_threaded_mainloop_signal(static_cast<Private*>(userdata)->ml, 0);
    }
    static void stream_success_cb(pa_stream*, int, void* userdata) {
        pa_threaded_mainloop_signal(static_cast<Private*>(userdata)->ml, 0);
    }
    static void timer_cb(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
        auto* p = static_cast<Private*>(userdata);
        p->timed_out = true;
        pa_threaded_mainloop_signal(p->ml, 0);
    }

    void arm_timer() {
        disarm_timer();
        timed_out = false;
        timer = pa_context_rttime_new(ctx, pa_rtclock_now() + kServerWait, &Private::timer_cb, this);
    }
    void disarm_timer() {
        if (timer) {
            pa_threaded_mainloop_get_api(ml)->time_free(timer);
            timer = nullptr;
        }
    }

    // Waits (lock held) until the operation has finished; false on time-out.
    bool wait_op(pa_operation* op) {
        if (!op) return false;
        arm_timer();
        while (pa_operation_get_state(op) == PA_OPERATION_RUNNING && !timed_out)
            pa_threaded_mainloop_wait(ml);
        const bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
        if (!done) pa_operation_cancel(op);
        pa_operation_unref(op);
        disarm_timer();
        return done;
    }

    // Waits (lock held) until `state()` of the context or stream is ready;
    // returns 0, the server's error code when it failed, or a time-out.
    template <class State>
    int wait_ready(State state, decltype(state()) ready, bool (*good)(decltype(state())), int fallback) {
        int err = 0;
        arm_timer();
        for (;;) {
            const auto st = state();
            if (st == ready) break;
            if (!good(st)) {
                err = pa_context_errno(ctx);
                if (!err) err = fallback;
                break;
            }
            if (timed_out) {
                err = PA_ERR_TIMEOUT;
                break;
            }
            pa_threaded_mainloop_wait(ml);
        }
        disarm_timer();
        return err;
    }

    int apply_volume(uint32_t word) {
        if (!stream) return PA_ERR_BADSTATE;
        const pa_cvolume cv = make_cvolume(map, word);
        pa_operation* op = pa_context_set_sink_input_volume(ctx, pa_stream_get_index(stream), &cv,
                                                            &Private::success_cb, this);
        if (!wait_op(op)) return pa_context_errno(ctx) ? pa_context_errno(ctx) : PA_ERR_TIMEOUT;
        return 0;
    }

    // Tears down stream, context and loop (lock not held).
    void teardown() {
        if (!ml) return;
        pa_threaded_mainloop_lock(ml);
        cancel_drain();
        disarm_timer();
        if (stream) {
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_set_write_callback(stream, nullptr, nullptr);
            pa_stream_set_underflow_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
            stream = nullptr;
        }
        if (ctx) {
            pa_context_set_state_callback(ctx, nullptr, nullptr);
            pa_context_disconnect(ctx);
            pa_context_unref(ctx);
            ctx = nullptr;
        }
        pa_threaded_mainloop_unlock(ml);
        pa_threaded_mainloop_stop(ml);
        pa_threaded_mainloop_free(ml);
        ml = nullptr;
        head = count = 0;
        offset = 0;
        handed = 0;
        seek = 0;
        pending = nullptr;
    }
};

// ---------------------------------------------------------------------------
// A short-lived connection for queries outside a stream.

namespace {

class QueryConnection {
public:
    QueryConnection() {
        ml = pa_mainloop_new();
        ctx = pa_context_new(pa_mainloop_get_api(ml), client_name());
        if (!ctx) {
            error = PA_ERR_INTERNAL;
            return;
        }
        if (pa_context_connect(ctx, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            error = pa_context_errno(ctx);
            return;
        }
        const pa_usec_t deadline = pa_rtclock_now() + kServerWait;
        for (;;) {
            const pa_context_state_t st = pa_context_get_state(ctx);
            if (st == PA_CONTEXT_READY) return;
            if (!PA_CONTEXT_IS_GOOD(st)) {
                error = pa_context_errno(ctx);
                if (!error) error = PA_ERR_CONNECTIONREFUSED;
                return;
            }
            if (!step(deadline)) return;
        }
    }
    ~QueryConnection() {
        if (ctx) {
            pa_context_disconnect(ctx);
            pa_context_unref(ctx);
        }
        pa_mainloop_free(ml);
    }
    bool ok() const { return error == 0; }

    // Runs the loop until the operation is done; sets error on failure.
    bool run(pa_operation* op) {
        if (!op) {
            error = pa_context_errno(ctx);
            if (!error) error = PA_ERR_INTERNAL;
            return false;
        }
        const pa_usec_t deadline = pa_rtclock_now() + kServerWait;
        while (pa_operation_get_state(op) == PA_OPERATION_RUNNING)
            if (!step(deadline)) break;
        const bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
        if (!done) pa_operation_cancel(op);
        pa_operation_unref(op);
        if (!done && !error) error = pa_context_errno(ctx) ? pa_context_errno(ctx) : PA_ERR_INTERNAL;
        return done;
    }

    pa_mainloop* ml = nullptr;
    pa_context* ctx = nullptr;
    int error = 0;

private:
    bool step(pa_usec_t deadline) {
        const pa_usec_t now = pa_rtclock_now();
        if (now >= deadline) {
            error = PA_ERR_TIMEOUT;
            return false;
        }
        const pa_usec_t slice = std::min<pa_usec_t>(deadline - now, 100 * PA_USEC_PER_MSEC);
        if (pa_mainloop_prepare(ml, static_cast<int>(slice)) < 0 || pa_mainloop_poll(ml) < 0 ||
            pa_mainloop_dispatch(ml) < 0) {
            error = PA_ERR_INTERNAL;
            return false;
        }
        return true;
    }
};

struct SinkList {
    std::vector<std::string> names;
    QStringList descriptions;
};

void sink_list_cb(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    if (eol || !info) return;
    auto* list = static_cast<SinkList*>(userdata);
    list->names.emplace_back(info->name ? info->name : "");
    const char* text = info->description && *info->description ? info->description : info->name;
    list->descriptions << QString::fromUtf8(text ? text : "");
}

void sink_list_signal_cb(pa_context* c, const pa_sink_info* info, int eol, void* userdata) {
    auto* p = static_cast<std::pair<SinkList*, pa_threaded_mainloop*>*>(userdata);
    sink_list_cb(c, info, eol, p->first);
    if (eol) pa_threaded_mainloop_signal(p->second, 0);
}

}  // namespace

// ---------------------------------------------------------------------------

TWaveOutDevice::TWaveOutDevice() : d(std::make_unique<Private>()), fnotices(kNoticeSize) {
    d->owner = this;
    feventfd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (feventfd >= 0) {
        fnotifier = std::make_unique<QSocketNotifier>(feventfd, QSocketNotifier::Read);
        QObject::connect(fnotifier.get(), &QSocketNotifier::activated, fnotifier.get(), [this] {
            uint64_t n;
            while (::read(feventfd, &n, sizeof n) > 0) {
            }
            deliver_notices();
        });
    }
}

TWaveOutDevice::~TWaveOutDevice() {
    if (fopen) {
        {
            std::lock_guard<std::mutex> g(gvolumelock);
            gopen.erase(std::remove(gopen.begin(), gopen.end(), d.get()), gopen.end());
        }
        d->teardown();
        fopen = false;
    }
    if (fnotifier) {
        // May run inside the notifier's own signal (a handler destroying the
        // player): let the event loop delete it.
        fnotifier->setEnabled(false);
        QObject::disconnect(fnotifier.get(), nullptr, nullptr, nullptr);
        fnotifier.release()->deleteLater();
    }
    if (feventfd >= 0) ::close(feventfd);
}

void TWaveOutDevice::push_notice(uint32_t msg, quintptr lparam) {
    {
        std::lock_guard<std::mutex> g(fnoticelock);
        if (fnoticecount == fnotices.size()) {
            // Only when the GUI thread has fallen far behind: grow the ring.
            std::vector<Notice> bigger(fnotices.size() * 2);
            for (size_t i = 0; i < fnoticecount; ++i)
                bigger[i] = fnotices[(fnoticehead + i) % fnotices.size()];
            fnotices.swap(bigger);
            fnoticehead = 0;
        }
        fnotices[(fnoticehead + fnoticecount) % fnotices.size()] = Notice{msg, fsession, lparam};
        ++fnoticecount;
    }
    const uint64_t one = 1;
    if (feventfd >= 0) [[maybe_unused]] auto r = ::write(feventfd, &one, sizeof one);
}

void TWaveOutDevice::deliver_notices() {
    // One at a time, so that a nested event loop (a message box shown for an
    // error raised by the receiver) keeps the order.
    for (;;) {
        Notice n;
        {
            std::lock_guard<std::mutex> g(fnoticelock);
            if (fnoticecount == 0) return;
            n = fnotices[fnoticehead];
            fnoticehead = (fnoticehead + 1) % fnotices.size();
            --fnoticecount;
        }
        if (freceiver) {
            const std::weak_ptr<int> alive = falive;
            TWaveOutEvent ev(n.msg, n.session, n.lparam);
            QCoreApplication::sendEvent(freceiver, &ev);
            if (alive.expired()) return;
        }
    }
}

int TWaveOutDevice::open(uint32_t deviceId, const TWaveFormat& format, QObject* receiver,
                         uint32_t bufferBytes) {
    if (fopen) return PA_ERR_BUSY;
    if (format.wFormatTag != 1 || format.wBitsPerSample != 16) return PA_ERR_NOTSUPPORTED;
    pa_sample_spec ss;
    ss.format = PA_SAMPLE_S16LE;
    ss.rate = format.nSamplesPerSec;
    ss.channels = static_cast<uint8_t>(std::min<uint16_t>(format.nChannels, 255));
    if (format.nChannels > PA_CHANNELS_MAX || !pa_sample_spec_valid(&ss)) return PA_ERR_NOTSUPPORTED;

    // A new session number before the library's thread runs: every notice
    // of this session carries it.
    ++fsession;
    Private& p = *d;
    p.ml = pa_threaded_mainloop_new();
    if (!p.ml) return PA_ERR_INTERNAL;
    p.ctx = pa_context_new(pa_threaded_mainloop_get_api(p.ml), client_name());
    if (!p.ctx) {
        p.teardown();
        return PA_ERR_INTERNAL;
    }
    pa_context_set_state_callback(p.ctx, &Private::signal_cb, &p);
    // A desktop program plays on the user's server; it does not start one.
    if (pa_context_connect(p.ctx, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        const int err = pa_context_errno(p.ctx);
        p.teardown();
        return err ? err : PA_ERR_CONNECTIONREFUSED;
    }
    if (pa_threaded_mainloop_start(p.ml) < 0) {
        p.teardown();
        return PA_ERR_INTERNAL;
    }

    pa_threaded_mainloop_lock(p.ml);
    int err = p.wait_ready([&p] { return pa_context_get_state(p.ctx); }, PA_CONTEXT_READY,
                           [](pa_context_state_t st) -> bool { return PA_CONTEXT_IS_GOOD(st); },
                           PA_ERR_CONNECTIONREFUSED);

    std::string sink;
    if (!err && deviceId != WAVE_MAPPER) {
        SinkList list;
        std::pair<SinkList*, pa_threaded_mainloop*> arg(&list, p.ml);
        pa_operation* op = pa_context_get_sink_info_list(p.ctx, &sink_list_signal_cb, &arg);
        if (!p.wait_op(op))
            err = pa_context_errno(p.ctx) ? pa_context_errno(p.ctx) : PA_ERR_TIMEOUT;
        else if (deviceId >= list.names.size())
            err = PA_ERR_NOENTITY;
        else
            sink = list.names[deviceId];
    }

    if (!err) {
        pa_channel_map_init_extend(&p.map, ss.channels, PA_CHANNEL_MAP_WAVEEX);
        p.frame = pa_frame_size(&ss);
        p.rate = ss.rate;
        p.stream = pa_stream_new(p.ctx, "Playback", &ss, &p.map);
        if (!p.stream) err = pa_context_errno(p.ctx) ? pa_context_errno(p.ctx) : PA_ERR_INTERNAL;
    }
    uint32_t word = 0xFFFFFFFFu;  // the volume the stream starts at
    if (!err) {
        pa_stream_set_state_callback(p.stream, &Private::stream_signal_cb, &p);
        pa_stream_set_write_callback(p.stream, &Private::write_cb, &p);
        pa_stream_set_underflow_callback(p.stream, &Private::underflow_cb, &p);
        pa_buffer_attr attr;
        // The server holds about bufferBytes; the rest waits in our queue.
        // A floor of 25 ms keeps tiny buffers from dropping out on a busy
        // machine. Small requests keep the server's own read-ahead short
        // (PipeWire sizes its processing quantum by them), so that little
        // of the buffer is beyond the reach of withdraw().
        const uint32_t floor = static_cast<uint32_t>(pa_usec_to_bytes(kMinServerBuffer, &ss));
        uint32_t tlength = std::max({bufferBytes, floor, static_cast<uint32_t>(p.frame)});
        tlength -= tlength % p.frame;
        const auto bytes_of = [&](pa_usec_t usec) {
            const auto b = static_cast<uint32_t>(pa_usec_to_bytes(usec, &ss));
            return std::max<uint32_t>(b - b % p.frame, static_cast<uint32_t>(p.frame));
        };
        attr.maxlength = uint32_t(-1);
        attr.tlength = tlength;
        // After running dry the server starts again as soon as a little
        // is there (it waits for the next frame, skipping nothing).
        attr.prebuf = std::min(tlength, 2 * bytes_of(kServerRequest));
        attr.minreq = std::max(std::min<uint32_t>(bytes_of(kServerRequest), uint32_t(tlength / 4 - tlength / 4 % p.frame)), uint32_t(p.frame));
        attr.fragsize = uint32_t(-1);
        p.margin = bytes_of(kWithdrawMargin);
        p.target = tlength;
        // Room for all the server may hold: its buffer, what was written
        // beyond its requests, and the margin.
        p.history.assign(size_t(tlength) * 2 + p.margin + (1 << 16), 0);
        {
            std::lock_guard<std::mutex> g(gvolumelock);
            word = gvolume;
        }
        const pa_cvolume cv = make_cvolume(p.map, word);
        // The server's reports of its playback time, interpolated between
        // them, place the cursor on the frame being heard.
        // Early requests keep the sink's own buffer at about one request,
        // so that the deep buffer lies in the server's queue of this stream,
        // where a write that seeks back replaces it without the sink having
        // to rewind (which a monitor, or a sink that cannot rewind, would
        // not undo).
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                                          PA_STREAM_EARLY_REQUESTS);
        if (pa_stream_connect_playback(p.stream, sink.empty() ? nullptr : sink.c_str(), &attr, flags, &cv,
                                       nullptr) < 0) {
            err = pa_context_errno(p.ctx);
        } else {
            err = p.wait_ready([&p] { return pa_stream_get_state(p.stream); }, PA_STREAM_READY,
                               [](pa_stream_state_t st) -> bool { return PA_STREAM_IS_GOOD(st); },
                               PA_ERR_INTERNAL);
        }
    }
    if (!err) {
        // PipeWire's server takes no volume from the connect call: set it
        // on the ready stream, where both servers apply it.
        if (word != 0xFFFFFFFFu) err = p.apply_volume(word);
    }
    if (!err) {
        pa_mainloop_api_once(pa_threaded_mainloop_get_api(p.ml), &Private::raise_priority_cb, &p);
        // The output the server chose (PULSE_SINK or the default): its
        // description names the device played on.
        if (const char* name = pa_stream_get_device_name(p.stream)) {
            SinkList list;
            std::pair<SinkList*, pa_threaded_mainloop*> arg(&list, p.ml);
            if (p.wait_op(pa_context_get_sink_info_by_name(p.ctx, name, &sink_list_signal_cb, &arg)) &&
                !list.descriptions.isEmpty()) {
                std::lock_guard<std::mutex> g(gvolumelock);
                glastdevice = list.descriptions.front();
            }
        }
    }
    pa_threaded_mainloop_unlock(p.ml);
    if (err) {
        p.teardown();
        return err;
    }

    {
        std::lock_guard<std::mutex> g(gvolumelock);
        gopen.push_back(&p);
    }
    freceiver = receiver;
    fopen = true;
    push_notice(MM_WOM_OPEN, 0);
    return 0;
}

int TWaveOutDevice::prepareHeader(TWaveHeader* header) {
    if (!header || (!header->lpData && header->dwBufferLength)) return PA_ERR_INVALID;
    if (!fopen) return PA_ERR_BADSTATE;
    pa_threaded_mainloop_lock(d->ml);
    header->dwFlags |= WHDR_PREPARED;
    pa_threaded_mainloop_unlock(d->ml);
    return 0;
}

int TWaveOutDevice::unprepareHeader(TWaveHeader* header) {
    if (!header) return PA_ERR_INVALID;
    if (!fopen) {
        // Nothing can be queued on a closed device.
        header->dwFlags &= ~(WHDR_PREPARED | WHDR_INQUEUE);
        return 0;
    }
    int err = 0;
    pa_threaded_mainloop_lock(d->ml);
    if (header->dwFlags & WHDR_INQUEUE)
        err = PA_ERR_BUSY;
    else
        header->dwFlags &= ~WHDR_PREPARED;
    pa_threaded_mainloop_unlock(d->ml);
    return err;
}

int TWaveOutDevice::write(TWaveHeader* header) {
    if (!header) return PA_ERR_INVALID;
    if (!fopen) return PA_ERR_BADSTATE;
    Private& p = *d;
    int err = 0;
    pa_threaded_mainloop_lock(p.ml);
    if (!(header->dwFlags & WHDR_PREPARED))
        err = PA_ERR_INVALID;
    else if (header->dwFlags & WHDR_INQUEUE)
        err = PA_ERR_BUSY;
    else if (header->dwBufferLength % p.frame != 0)
        err = PA_ERR_INVALID;
    else if (p.count == p.fifo.size())
        err = PA_ERR_TOOLARGE;
    else {
        header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        p.fifo[(p.head + p.count) % p.fifo.size()] = header;
        ++p.count;
        p.release_pending();
        p.feed();
    }
    pa_threaded_mainloop_unlock(p.ml);
    return err;
}

int TWaveOutDevice::pause() {
    if (!fopen) return PA_ERR_BADSTATE;
    pa_threaded_mainloop_lock(d->ml);
    pa_operation* op = pa_stream_cork(d->stream, 1, &Private::stream_success_cb, d.get());
    const bool ok = d->wait_op(op);
    pa_threaded_mainloop_unlock(d->ml);
    return ok ? 0 : PA_ERR_TIMEOUT;
}

int TWaveOutDevice::restart() {
    if (!fopen) return PA_ERR_BADSTATE;
    pa_threaded_mainloop_lock(d->ml);
    pa_operation* op = pa_stream_cork(d->stream, 0, &Private::stream_success_cb, d.get());
    const bool ok = d->wait_op(op);
    d->feed();
    pa_threaded_mainloop_unlock(d->ml);
    return ok ? 0 : PA_ERR_TIMEOUT;
}

int TWaveOutDevice::reset() {
    if (!fopen) return PA_ERR_BADSTATE;
    Private& p = *d;
    pa_threaded_mainloop_lock(p.ml);
    p.cancel_drain();
    if (pa_operation* op = pa_stream_flush(p.stream, nullptr, nullptr)) pa_operation_unref(op);
    // Queue order: the buffer waiting for its drain came first.
    if (p.pending) {
        TWaveHeader* h = p.pending;
        p.pending = nullptr;
        p.post_done(h);
    }
    while (p.count > 0) {
        TWaveHeader* h = p.fifo[p.head];
        p.head = (p.head + 1) % p.fifo.size();
        --p.count;
        p.post_done(h);
    }
    p.offset = 0;
    pa_threaded_mainloop_unlock(p.ml);
    return 0;
}

int TWaveOutDevice::withdraw(TWaveHeader** headers, size_t capacity, TWithdrawal* taken, char* old,
                             uint32_t oldCapacity) {
    if (taken) *taken = TWithdrawal{};
    if (!headers || !taken || (!old && oldCapacity > 0)) return PA_ERR_INVALID;
    if (!fopen) return PA_ERR_BADSTATE;
    Private& p = *d;
    pa_threaded_mainloop_lock(p.ml);
    if (p.count > capacity) {
        pa_threaded_mainloop_unlock(p.ml);
        return PA_ERR_TOOLARGE;
    }
    // The server's part from a margin ahead of the ear on: the next write
    // seeks back over it. A fresh report of the server's read index first
    // (one round trip), so that the margin is not eaten by an old one.
    // Before the server's first report nothing has been heard.
    p.wait_op(pa_stream_update_timing_info(p.stream, &Private::stream_success_cb, &p));
    pa_usec_t usec = 0;
    uint64_t heard = 0;
    if (pa_stream_get_time(p.stream, &usec) == 0) heard = pa_usec_to_bytes(usec, pa_stream_get_sample_spec(p.stream));
    uint64_t resume = heard + p.margin;
    // Never at or behind the server's read index (where the sink takes
    // its sound from): written there, the new sound would come too late, and
    // the server would wait to fill its buffer again.
    if (const pa_timing_info* ti = pa_stream_get_timing_info(p.stream); ti && !ti->read_index_corrupt) {
        int64_t read = ti->read_index;
        if (ti->playing) read += int64_t(pa_usec_to_bytes(pa_timeval_age(&ti->timestamp), pa_stream_get_sample_spec(p.stream)));
        if (read > 0) resume = std::max<uint64_t>(resume, uint64_t(read) + p.margin);
    }
    resume -= resume % p.frame;
    const uint64_t oldest = p.handed > p.history.size() ? p.handed - p.history.size() : 0;
    resume = std::clamp<uint64_t>(resume, oldest, p.handed);

    // The old sound from there on, first what the server has, then the queue.
    uint32_t copied = 0;
    for (uint64_t at = resume; at < p.handed && copied < oldCapacity; ++at)
        old[copied++] = p.history[size_t(at % p.history.size())];
    for (size_t i = 0; i < p.count && copied < oldCapacity; ++i) {
        const TWaveHeader* h = p.fifo[(p.head + i) % p.fifo.size()];
        const uint32_t from = i == 0 ? p.offset : 0;
        const uint32_t n = std::min(h->dwBufferLength - from, oldCapacity - copied);
        std::memcpy(old + copied, h->lpData + from, n);
        copied += n;
    }
    taken->oldBytes = copied;
    taken->serverBytes = p.handed - resume;
    taken->resumeByte = resume;
    p.seek -= int64_t(p.handed - resume);
    p.handed = resume;

    // Everything still in the queue has not been handed over in full: a
    // buffer leaves the queue when its last byte goes to the server.
    taken->handedBytes = p.count > 0 ? p.offset : 0;
    for (size_t i = 0; i < p.count; ++i) {
        TWaveHeader* h = p.fifo[(p.head + i) % p.fifo.size()];
        h->dwFlags &= ~WHDR_INQUEUE;
        headers[i] = h;
    }
    taken->count = p.count;
    p.head = 0;
    p.count = 0;
    p.offset = 0;
    pa_threaded_mainloop_unlock(p.ml);
    return 0;
}

int TWaveOutDevice::position(int64_t* frames) {
    if (!frames) return PA_ERR_INVALID;
    if (!fopen) return PA_ERR_BADSTATE;
    Private& p = *d;
    pa_threaded_mainloop_lock(p.ml);
    pa_usec_t usec = 0;
    const int r = pa_stream_get_time(p.stream, &usec);
    const int64_t handed = int64_t(p.handed / p.frame);
    pa_threaded_mainloop_unlock(p.ml);
    if (r < 0) return -r;
    const int64_t played = int64_t(usec / PA_USEC_PER_SEC) * p.rate +
                           int64_t(usec % PA_USEC_PER_SEC) * p.rate / int64_t(PA_USEC_PER_SEC);
    // The interpolated clock runs on while the server waits for sound (at
    // the start, or while a busy machine keeps it from asking) and never
    // goes back; what has not been handed over cannot have been heard.
    *frames = std::min(played, handed);
    return 0;
}

int TWaveOutDevice::close() {
    if (!fopen) return PA_ERR_BADSTATE;
    reset();
    {
        std::lock_guard<std::mutex> g(gvolumelock);
        gopen.erase(std::remove(gopen.begin(), gopen.end(), d.get()), gopen.end());
    }
    d->teardown();
    fopen = false;
    push_notice(MM_WOM_CLOSE, 0);
    return 0;
}

int TWaveOutDevice::numDevs() {
    return static_cast<int>(deviceNames().size());
}

QStringList TWaveOutDevice::deviceNames(int* error) {
    QueryConnection q;
    SinkList list;
    if (q.ok()) q.run(pa_context_get_sink_info_list(q.ctx, &sink_list_cb, &list));
    if (error) *error = q.error;
    return q.ok() ? list.descriptions : QStringList();
}

QString TWaveOutDevice::serverName(QString* defaultDevice) {
    if (defaultDevice) defaultDevice->clear();
    QueryConnection q;
    struct Info {
        QString name;
        std::string sink;
    } info;
    if (q.ok())
        q.run(pa_context_get_server_info(
            q.ctx,
            [](pa_context*, const pa_server_info* i, void* userdata) {
                auto* in = static_cast<Info*>(userdata);
                if (!i) return;
                in->name = QString::fromUtf8(i->server_name ? i->server_name : "") + QLatin1Char(' ') +
                           QString::fromUtf8(i->server_version ? i->server_version : "");
                in->sink = i->default_sink_name ? i->default_sink_name : "";
            },
            &info));
    if (!q.ok()) return QString();
    if (defaultDevice && !info.sink.empty()) {
        SinkList list;
        if (q.run(pa_context_get_sink_info_by_name(q.ctx, info.sink.c_str(), &sink_list_cb, &list)) &&
            !list.descriptions.isEmpty())
            *defaultDevice = list.descriptions.front();
        else
            *defaultDevice = QString::fromStdString(info.sink);
    }
    return info.name.trimmed();
}

QString TWaveOutDevice::lastDeviceName() {
    std::lock_guard<std::mutex> g(gvolumelock);
    return glastdevice;
}

int TWaveOutDevice::getVolume(uint32_t, uint32_t* volume) {
    if (!volume) return PA_ERR_INVALID;
    std::lock_guard<std::mutex> g(gvolumelock);
    *volume = gvolume;
    return 0;
}

int TWaveOutDevice::setVolume(uint32_t, uint32_t volume) {
    std::lock_guard<std::mutex> g(gvolumelock);
    gvolume = volume;
    int err = 0;
    for (Private* p : gopen) {
        pa_threaded_mainloop_lock(p->ml);
        if (const int e = p->apply_volume(volume)) err = e;
        pa_threaded_mainloop_unlock(p->ml);
    }
    return err;
}

uint64_t TWaveOutDevice::underruns() {
    return gunderruns.load();
}

QString TWaveOutDevice::errorText(int code) {
    return QString::fromUtf8(pa_strerror(code));
}

}  // namespace wavrell
