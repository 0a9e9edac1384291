#pragma once

#include "audio/wav_file.h"

#include <QString>
#include <QStringList>

#include <cstdint>

namespace wavrell {

class TWorkProgress;

/// The format and samples a reader took from a sound file.
struct TSoundContent {
    int32_t sampfreq = 0;
    int32_t nchans = 0;
    int32_t nsamples = 0;
    /// Speaker positions of the channels as the bits of a WAVE
    /// extensible channel mask; 0 when the file names none.
    uint32_t channelmask = 0;
    TWavSamples16 samples;  ///< nchans rows of nsamples samples
    /// The factor the samples were stored with: 1.0, or below it for a file
    /// whose real samples go beyond full scale, scaled down just enough to
    /// fit the 16-bit store.
    double storegain = 1.0;
};

/// Reads a sound file through libsndfile: FLAC, Ogg Vorbis, Opus, MP3,
/// AIFF/AIFF-C, W64, RF64, CAF and whatever else the library decodes
/// (TWav::open_file sends it every file that is not a RIFF WAVE file).
/// Samples of 16 bits or fewer are taken as they are; wider and real
/// samples are scaled to 16 bits with narrow_real (halves to even,
/// saturated), as the WAV reader does. With headeronly only the format is
/// taken (rows empty, nsamples 0); with maxframes of 0 or more, decoding
/// stops after that many frames. Real samples beyond full scale are not
/// clipped: the file is stored scaled down just enough (storegain). The
/// channels of Ogg Vorbis and Opus files, which come in Vorbis order, are
/// put into the order of the WAVE channel mask. Room for the samples is
/// made for what the file's size can hold at most, whatever its header
/// claims, and grows while decoding.
///
/// Raises EFileError naming the file: with libsndfile's reason when it
/// cannot open or decode the file, and when the decoding of a file whose
/// length is known (anything but MPEG audio, whose length is an estimate)
/// ends before that length: such a file is damaged or cut short, and
/// taking its first part would pass off a shortened recording as whole.
/// A long file of losslessly stored samples is decoded by two threads, each
/// from its own place in the file. Any thread.
TSoundContent read_sound_file(const QString& name, bool headeronly, int64_t maxframes = -1,
                              TWorkProgress* progress = nullptr);

/// File name extensions (lower case, without the dot) of the sound files
/// the program opens: WAV and the formats above. For the open dialog's
/// filter; files are told apart by their content, not their name.
const QStringList& sound_file_extensions();

/// The WAVE extensible channel mask of libsndfile's channel positions
/// (SF_CHANNEL_MAP_* values, one per channel). A mask describes channels
/// in the order of its bits, so a map that names an unknown or
/// ambisonic position, names one twice, or is not in that order gives 0.
uint32_t speaker_mask(const int* map, int nchans);

}  // namespace wavrell
