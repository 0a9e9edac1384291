#pragma once

#include "audio/pulse_device.h"
#include "common/errors.h"

#include <QObject>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace wavrell {

/// Error of the streaming player.
WAVRELL_DECLARE_ERROR(EMPCError);

/// One ring slot's samples: signed 16-bit values interleaved by channel
/// (channel 0 first in each frame).
using TWaveChunk = std::vector<int16_t>;

/// Asks the owner for the next chunk. On entry arr is the free slot's chunk
/// (nChunkSamples values), used is the number of values wanted (its length,
/// or less when Requeue asks for the rest of a chunk the server has in part)
/// and last is false. The owner writes samples into arr from index 0 and
/// sets used to the number of values written (whole frames, at most as many
/// as wanted); used 0 or last true ends the stream.
/// The owner must not resize arr. Called on the GUI thread.
using TMPCStash = std::function<void(TWaveChunk& arr, int32_t& used, bool& last)>;
/// The sound from stream frame `frame` on (frames counted since Run) has
/// been taken back before the server had it; the owner's next chunks are to
/// take its place (see TMPCPlay::Requeue). Called on the GUI thread.
using TMPCRequeue = std::function<void(int64_t frame)>;
using TMPCPlayOpened = std::function<void()>;
using TMPCPlayClosed = std::function<void()>;

/// A message of the player's hidden receiver, as its handler sees it.
struct TMPCMessage {
    uint32_t Msg = 0;
    quintptr WParam = 0;  ///< the device session that sent it
    quintptr LParam = 0;  ///< for MM_WOM_DONE: the finished TWaveHeader*
    qintptr Result = 0;
};
using TMPCPlayMsg = std::function<void(TMPCMessage& Msg)>;

/// States of the player: not owning the device; streaming (every finished
/// buffer is refilled by the owner); draining (the final buffer is queued).
enum TMPCState { psIdle, psStreaming, psDraining };

/// Plays a stream of 16-bit PCM samples on a wave-out device through a ring
/// of nBuffers preallocated chunks, asking its owner for each chunk through
/// OnStash whenever a slot is free. The ring holds up to nBuffers ×
/// nChunkSamples / sfTot seconds of sound ahead of the listener, so that a
/// busy GUI thread does not let the stream run dry; the sound server itself
/// holds up to ServerBuffer of it, so that a busy machine does not either.
/// Requeue replaces all that is not yet heard but a short margin, so that a
/// change of source is heard after some tens of milliseconds, not after the
/// server's buffer or the whole ring.
///
/// GUI thread only. Device notices reach the player as events to a hidden
/// receiver it owns and are handled by the GUI thread's event loop; errors
/// raised there reach the application's error handler. Nothing is allocated
/// while streaming.
class TMPCPlay : public QObject {
public:
    static constexpr uintptr_t EndMarker = 100000000;
    static constexpr int32_t MaxBuffers = 1000;
    /// Sound the server is asked to hold ahead of the ear, seconds (at most
    /// the ring less two chunks). The device's own thread keeps it filled
    /// from the ring; Requeue overwrites it from a margin ahead of the ear
    /// on. Chosen with bench/ab_switch.sh on a busy machine: with the 40 ms
    /// a switch used to wait for, the stream ran dry under two busy
    /// processes; half a second rides them out.
    static constexpr double ServerBuffer = 0.5;

    explicit TMPCPlay(QObject* aowner = nullptr);
    /// Closes the device first if the player still owns it.
    ~TMPCPlay() override;

    /// Runs once after the owner has applied its stored properties.
    void loaded() {}

    // Events (empty when unassigned).
    TMPCPlayOpened OnOpened;  ///< the device has been opened
    TMPCPlayClosed OnClosed;  ///< the device has been closed (end of stream or Stop)
    TMPCStash OnStash;        ///< must be assigned before Run
    TMPCRequeue OnRequeue;    ///< Requeue has taken sound back (see there)
    TMPCPlayMsg OnMsg;        ///< sees every message of the hidden receiver first

    /// Values (not frames) per chunk, at least 1. Refused while OwnBoard.
    int32_t nChunkSamples() const { return fnchunksamples; }
    void setNChunkSamples(int32_t value);
    /// Channels, at least 1. Refused while OwnBoard.
    int32_t nChans() const { return fnchans; }
    void setNChans(int32_t value);
    /// Sample values per second over all channels, at least 1. Refused while OwnBoard.
    int32_t sfTot() const { return fsftot; }
    void setSfTot(int32_t value);
    /// Ring slots, 1 to 1000. Refused while OwnBoard.
    int32_t nBuffers() const { return fnbufs; }
    void setNBuffers(int32_t value);
    /// The device is open (the player owns the board).
    bool OwnBoard() const { return fownboard; }
    TMPCState State() const { return !fownboard ? psIdle : sendnomore ? psDraining : psStreaming; }

    /// Playback volume, 0 silent to 0xFFFF full: the volume of this program's
    /// streams (see TWaveOutDevice::setVolume), kept while nothing plays.
    uint16_t LeftVolume() const;
    void setLeftVolume(uint16_t value);
    uint16_t RightVolume() const;
    void setRightVolume(uint16_t value);
    void setBothVolume(uint16_t value);

    /// Number of output devices the server has now.
    int32_t nDevices() const;
    /// Output device names (index = DeviceID) as of creation or read_devicenames.
    const QStringList& Devicenames() const { return fdevicenames; }
    /// Device to open at the next Run; WAVE_MAPPER (0xFFFFFFFF) is the default one.
    uint32_t DeviceID() const { return fdeviceid; }
    void setDeviceID(uint32_t value) { fdeviceid = value; }

    /// The format the device is opened with, kept in step with nChans and sfTot.
    const TWaveFormat& wavefmt() const { return fwavefmt; }

    /// Length of the crossfade at the seam of a Requeue, seconds; 0 (the
    /// default) for none, which leaves every sample as the owner made it.
    double Crossfade() const { return fcrossfade; }
    void setCrossfade(double seconds);

    /// Length of each half of a dip at the seam of a Requeue, seconds: the
    /// old sound fades out over N = round(Dip × rate) frames,
    /// old·cos²(πi/2N), and the new one fades in over the next N,
    /// new·sin²(πi/2N). Every Requeue then sounds alike, whether or not the
    /// source changed. 0 (the default) for none; a dip takes the place of
    /// the crossfade.
    double Dip() const { return fdip; }
    void setDip(double seconds);

    /// Stream frames (counted from 0 at Run) queued on the device so far:
    /// the chunk the stash is filling begins at this frame.
    int64_t StreamFrame() const { return fstreamframe; }
    /// The stream frame being heard now, from the server's report of its
    /// playback time (0 … StreamFrame()); StreamFrame() when not playing, as
    /// nothing waits then. Frames queued but not heard: StreamFrame() −
    /// HeardFrame().
    int64_t HeardFrame() const;

    /// Replaces the sound not yet heard: takes it back from the device (all
    /// of it from a margin of some tens of milliseconds ahead of the ear
    /// on, see TWaveOutDevice::withdraw), calls OnRequeue(k) with the first
    /// stream frame k taken back (the owner's next chunks must begin where
    /// that frame came from), then asks OnStash again for every slot taken
    /// back. The listener hears frames … k − 1 as queued before, then the
    /// new chunks from k on. With Crossfade on, the first N =
    /// round(Crossfade × rate) new frames are mixed with the old ones they
    /// replace: old·cos²(πi/2N) + new·sin²(πi/2N), rounded halves to even
    /// (N shrinks to the old frames there were). Returns k; does nothing
    /// (returning StreamFrame()) when not streaming or when called from
    /// inside OnStash or OnRequeue.
    int64_t Requeue();

    /// Opens the device, fills the ring from OnStash and starts playing.
    void Run();
    /// Stops at once (resets and closes the device); nothing without an open device.
    void Stop() { close_board(); }
    /// The device's text for an error code (at most 128 characters).
    QString ErrorText(int errornumber) const;
    /// Enumerates the output devices again.
    void read_devicenames();

private:
    class Receiver;
    friend class Receiver;

    void make_wavefmt();
    void resize_ring();
    bool open_board();
    void close_board();
    void send_chunk(int index, int32_t want);
    void mix_crossfade(TWaveChunk& arr, int32_t used);
    int32_t crossfade_frames() const;
    int32_t dip_frames() const;
    void reserve_fade();
    void wndproc(TMPCMessage& Msg);
    void raise(const char* call, int code) const;

    TWaveFormat fwavefmt;
    std::vector<TWaveHeader> waveheader;
    std::vector<TWaveChunk> farr;
    bool sendnomore = false;
    std::unique_ptr<Receiver> fhandle;
    std::unique_ptr<TWaveOutDevice> fwaveouthandle;
    uint32_t fdeviceid = WAVE_MAPPER;
    int32_t fnchunksamples = 0;
    bool fownboard = false;
    int32_t fnchans = 0;
    int32_t fsftot = 0;
    int32_t fnbufs = 0;
    QStringList fdevicenames;

    int64_t fstreamframe = 0;                // frames queued this session
    bool finstash = false;                   // OnStash or OnRequeue is running
    bool fstarting = false;                  // Run is filling the ring
    std::vector<TWaveHeader*> fwithdrawn;    // slots taken back by Requeue, nBuffers places
    double fcrossfade = 0;
    double fdip = 0;
    bool fdipping = false;                   // the present seam is a dip
    std::vector<int16_t> ffadeold;           // the old frames under the crossfade
    int32_t ffadelen = 0;                    // old frames of the present crossfade or dip
    int32_t ffadedone = 0;                   // frames of the seam already mixed
};

}  // namespace wavrell
