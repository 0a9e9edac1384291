#pragma once

#include <QEvent>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class QSocketNotifier;

namespace wavrell {

/// PCM format of an output stream (format tag 1, 16 bits per sample).
struct TWaveFormat {
    uint16_t wFormatTag = 1;
    uint16_t nChannels = 1;
    uint32_t nSamplesPerSec = 16000;
    uint32_t nAvgBytesPerSec = 32000;
    uint16_t nBlockAlign = 2;
    uint16_t wBitsPerSample = 16;
    uint16_t cbSize = 0;
};

/// Header of one buffer handed to the device. The caller owns the header
/// and the data; both must stay valid and unchanged while the header is
/// queued (WHDR_INQUEUE). dwFlags is kept by the device: read it only
/// through the device's calls.
struct TWaveHeader {
    char* lpData = nullptr;
    uint32_t dwBufferLength = 0;  ///< bytes, a whole number of frames
    uint32_t dwBytesRecorded = 0;
    uintptr_t dwUser = 0;         ///< the caller's word, untouched by the device
    uint32_t dwFlags = 0;
    uint32_t dwLoops = 0;
};

constexpr uint32_t WHDR_DONE = 0x01;
constexpr uint32_t WHDR_PREPARED = 0x02;
constexpr uint32_t WHDR_INQUEUE = 0x10;

/// What TWaveOutDevice::withdraw took back.
struct TWithdrawal {
    size_t count = 0;          ///< buffers taken back
    uint32_t handedBytes = 0;  ///< bytes of the first of them the server had before (now taken back too)
    uint64_t serverBytes = 0;  ///< bytes taken back from the server's buffer
    uint64_t resumeByte = 0;   ///< the stream's byte where the next write goes
    uint32_t oldBytes = 0;     ///< bytes copied to the caller's old-sound buffer
};

/// Message numbers of the device's notices.
constexpr uint32_t MM_WOM_OPEN = 955;
constexpr uint32_t MM_WOM_CLOSE = 956;
constexpr uint32_t MM_WOM_DONE = 957;

/// Device identifier of the sound server's default output.
constexpr uint32_t WAVE_MAPPER = 0xFFFFFFFFu;

/// Result of every device call: 0 on success, otherwise an error code of the
/// sound server's client library (see TWaveOutDevice::errorText).
constexpr int MMSYSERR_NOERROR = 0;

/// A notice of the device, delivered to the receiver given to open() on the
/// GUI thread. wParam identifies the device session that sent it
/// (TWaveOutDevice::handle() while that session was open); for MM_WOM_DONE
/// lParam is the finished TWaveHeader*.
class TWaveOutEvent : public QEvent {
public:
    TWaveOutEvent(uint32_t msg, quintptr wparam, quintptr lparam)
        : QEvent(eventType()), fmsg(msg), fwparam(wparam), flparam(lparam) {}
    static QEvent::Type eventType();
    uint32_t msg() const { return fmsg; }
    quintptr wParam() const { return fwparam; }
    quintptr lParam() const { return flparam; }

private:
    uint32_t fmsg;
    quintptr fwparam;
    quintptr flparam;
};

/// One wave-out device on the PulseAudio sound server: a playback stream fed
/// from a queue of caller-owned buffers.
///
/// All calls are made on the GUI thread (the thread that created the object).
/// The stream is fed by the client library's own thread from the queue; the
/// server keeps about bufferBytes (given to open) of sound, deep enough to
/// ride out a busy machine. What stands between withdraw() and the ear is
/// only a margin of some tens of milliseconds: the server's part beyond it
/// is overwritten by what is written next.
///
/// A buffer is reported done once it has been handed over completely to the
/// server and another buffer is queued behind it. A buffer that leaves the
/// queue empty is reported only after the server has played it out, so a
/// final buffer is heard in full before its done notice arrives.
///
/// Notices are queued by the device (without allocating) and delivered from
/// the GUI thread's event loop, in the order they arose, as TWaveOutEvent
/// sent to the receiver: one MM_WOM_OPEN after a successful open, one
/// MM_WOM_DONE per queued buffer in queue order, one MM_WOM_CLOSE after a
/// successful close. Notices are never delivered inside a device call. Done
/// notices of buffers returned by reset() arrive after the close that
/// follows it.
class TWaveOutDevice {
public:
    TWaveOutDevice();
    /// Closes the stream (returning queued buffers without notices).
    ~TWaveOutDevice();
    TWaveOutDevice(const TWaveOutDevice&) = delete;
    TWaveOutDevice& operator=(const TWaveOutDevice&) = delete;

    /// Connects to the server and opens a playback stream on the
    /// output deviceId (0, 1, … in the server's order of sinks, WAVE_MAPPER
    /// for the default sink) with a 16-bit PCM format. bufferBytes is the
    /// amount of sound the server may hold ahead of the ear. The stream
    /// starts at the process's volume (setVolume). Blocks for at most a few
    /// seconds while the server answers.
    int open(uint32_t deviceId, const TWaveFormat& format, QObject* receiver, uint32_t bufferBytes);
    bool isOpen() const { return fopen; }
    /// Identifies the open session in notices (wParam); 0 while closed.
    quintptr handle() const { return fopen ? fsession : 0; }

    int prepareHeader(TWaveHeader* header);
    /// Fails with PA_ERR_BUSY while the header is queued.
    int unprepareHeader(TWaveHeader* header);
    /// Appends a prepared header to the queue.
    int write(TWaveHeader* header);
    /// Holds playback (queued buffers stay queued) until restart().
    int pause();
    int restart();
    /// Stops playback at once, drops what the server holds and returns every
    /// queued buffer (marked done, done notices posted).
    int reset();
    /// Takes back the sound that is not yet heard, so that the caller can
    /// put other sound in its place: the server's part from a short margin
    /// ahead of the ear on (the next write seeks back over it) and, in
    /// queue order and without done notices, every queued buffer whose
    /// sound has not all been handed to the server. The stream goes on at
    /// taken->resumeByte (bytes counted since open): the next buffer written
    /// is heard right after the byte before it. Up to oldCapacity bytes of
    /// the old sound from there on are copied to old (a crossfade fades
    /// them out). Fails with PA_ERR_TOOLARGE (taking nothing) when more than
    /// `capacity` buffers would come back.
    int withdraw(TWaveHeader** headers, size_t capacity, TWithdrawal* taken, char* old = nullptr,
                 uint32_t oldCapacity = 0);
    /// How many frames of this session's stream have been heard: the
    /// server's playback time of the stream (interpolated between its
    /// reports, the sink's latency taken off) in frames, at most the frames
    /// handed to the server so far. PA_ERR_NODATA until the server's first
    /// report.
    int position(int64_t* frames);
    /// Resets and closes the stream; posts MM_WOM_CLOSE.
    int close();

    /// Number of output devices (sinks) the server has now; 0 without a server.
    static int numDevs();
    /// The sound server's name and version ("PulseAudio (on PipeWire
    /// 0.3.65) 15.0.0") and, in *defaultDevice, the description of its
    /// default output; empty without a server.
    static QString serverName(QString* defaultDevice = nullptr);
    /// The description of the output the last stream opened played on;
    /// empty before the first.
    static QString lastDeviceName();
    /// Descriptions of the output devices in the server's order.
    static QStringList deviceNames(int* error = nullptr);

    /// The process's playback volume: left in the low 16 bits, right in the
    /// high 16 bits, 0 silent to 0xFFFF full (0xFFFF is the server's 100 %,
    /// the scale is linear in the server's volume units). It is the volume of
    /// this program's streams, not of the sink: set while no stream is open
    /// it is kept and applied to the next stream; set while streams are open
    /// it is applied to them at once. deviceId is accepted for the classic
    /// call shape; the volume is per process.
    static int getVolume(uint32_t deviceId, uint32_t* volume);
    static int setVolume(uint32_t deviceId, uint32_t volume);

    /// How often, since the program started, a stream of this program ran
    /// out of sound while playing (the machine did not keep up).
    static uint64_t underruns();

    /// The server library's text for an error code.
    static QString errorText(int code);

    struct Private;

private:
    void deliver_notices();
    void push_notice(uint32_t msg, quintptr lparam);

    std::unique_ptr<Private> d;
    bool fopen = false;
    quintptr fsession = 0;
    QObject* freceiver = nullptr;
    std::unique_ptr<QSocketNotifier> fnotifier;
    int feventfd = -1;
    // Expires with the device, so that delivery stops if a receiver's
    // handler destroys the device's owner.
    std::shared_ptr<int> falive = std::make_shared<int>(0);

    struct Notice {
        uint32_t msg;
        quintptr session;
        quintptr lparam;
    };
    std::mutex fnoticelock;
    std::vector<Notice> fnotices;  // ring, preallocated
    size_t fnoticehead = 0;
    size_t fnoticecount = 0;
};

}  // namespace wavrell
