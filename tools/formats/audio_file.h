// The audio files the data tools write: 24-bit PCM WAV or FLAC through
// libsndfile, with what the receiver's engineers and bioacoustic tools read
// about a recording's time and source: WAV's broadcast-WAV `bext` chunk
// (EBU Tech 3285), its GUANO `guan` chunk, cue points with `LIST`/`adtl`
// labels; FLAC's Vorbis comments (added with libFLAC, as libsndfile writes
// only its fixed set of tags). Every audio file is written here and nowhere
// else.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace datatools {

enum class AudioFormat { kWav, kFlac };

// Where an exported stretch of samples came from and when it was recorded.
struct AudioProvenance {
  uint32_t rateHz = 0;
  // The first sample's instant in samples since 1970 UTC at rateHz: exact
  // where the start is not a whole second.
  int64_t startSample = 0;
  int32_t offsetMinutes = 0;  // local offset in force at the start, minutes east of UTC
  std::string sourceFile;     // the data file's name as the board wrote it
  uint64_t sourceRecord = 0;  // the record's index in that file, from 0
  uint64_t samples = 0;
  bool timed = false;  // false: no time known (a file without a data file name)
  // False: UTC is not known (no zone, or a name the cadence could not
  // place); startSample then counts the board's local clock, and no UTC time
  // or offset is written.
  bool utcKnown = true;
  double writeUtc = 0;  // the write (end of the record), when timed and utcKnown
  std::string timing;   // how the time was found, in a few words
  std::string summary;  // for a joined file: what it holds, instead of the source record
  std::vector<std::pair<std::string, std::string>> extra;  // further GUANO fields

  int64_t StartSecond() const;  // floor of the start in whole seconds
  double StartUtc() const;      // the start in UTC seconds
  bool StartIsWhole() const;    // on a whole second
  // "2026-10-25T00:59:39Z", or with microseconds when the start is not whole.
  std::string StartUtcText() const;
  // "2026-10-25T02:59:39+02:00": local time of the start with its offset;
  // without the offset when UTC is not known.
  std::string StartLocalText() const;
};

// A labelled point in a file: a record's start, or where a gap was closed.
struct CueMark {
  uint64_t sample = 0;
  std::string label;
};

// The GUANO metadata text (GUANO|Version first, one "Key: value" per line),
// padded with spaces to a multiple of four bytes.
std::string GuanoText(const AudioProvenance& p);
// The broadcast-WAV description: the UTC start, the offset, the source.
std::string BextDescription(const AudioProvenance& p);
// Samples from UTC midnight of the start's day to the first sample.
uint64_t TimeReference(const AudioProvenance& p);

// Writes one audio file of 24-bit codes to a descriptor open for writing on
// a regular file (an OutputFile's), which it does not close. Open, then
// Append blocks of codes (sign-extended 24-bit), then Close; the metadata
// goes in at Open, cue marks (WAV only) too. Any failure leaves a one-line
// reason naming `path`, the name the file is known by.
class AudioWriter {
 public:
  AudioWriter() = default;
  AudioWriter(const AudioWriter&) = delete;
  AudioWriter& operator=(const AudioWriter&) = delete;
  ~AudioWriter();

  bool Open(int descriptor, const std::string& path, AudioFormat format,
            const AudioProvenance& provenance, const std::vector<CueMark>& cues,
            std::string* error);
  bool Append(const int32_t* codes, size_t count, std::string* error);
  bool AppendSilence(uint64_t count, std::string* error);
  // Finishes the file; for FLAC this adds the Vorbis comments.
  bool Close(std::string* error);

  // The largest number of 24-bit mono samples a RIFF WAV holds; a longer
  // WAV is written as RF64.
  static uint64_t WavSampleLimit();
  // Cue points hold 32-bit sample offsets: a file with cue marks ends there.
  static uint64_t CueSampleLimit();

  // Where both libraries' bytes go: the descriptor, and the errno of the
  // first write that failed, which then names every failure.
  struct Sink {
    int descriptor = -1;
    int error = 0;
  };

 private:
  bool Fail(const std::string& reason, std::string* error);
  bool OpenWav(const AudioProvenance& provenance, const std::vector<CueMark>& cues,
               std::string* error);

  void* file_ = nullptr;  // SNDFILE* or FLAC__StreamEncoder*
  Sink sink_;
  std::string path_;
  AudioFormat format_ = AudioFormat::kWav;
  AudioProvenance provenance_;
  std::vector<int> frames_;
  std::shared_ptr<void> comments_;  // FLAC's Vorbis comment block
};

}  // namespace datatools
