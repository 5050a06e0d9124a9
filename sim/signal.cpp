#include "sim/signal.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

#include "hostlib/regular_file.h"

#if PELMOK_HAVE_SNDFILE
#include <sndfile.h>

#include "hostlib/shared_library.h"
#endif

namespace sim {
namespace {

constexpr double kTwoPi = 6.283185307179586476925286766559;

void SetError(std::string* error, const std::string& message) {
  if (error) *error = message;
}

}  // namespace

ToneSignal::ToneSignal(uint32_t frameRateHz) : frameRateHz_(frameRateHz ? frameRateHz : 1) {
  // The phase is reduced in integers, so the tone is exact however long the
  // run and repeats after rate / gcd(rate, 1 kHz) frames: one period of codes
  // is the table (100 entries at 100 kHz), a frame a look-up in it.
  uint32_t a = frameRateHz_, b = kFrequencyHz;
  while (b != 0) {
    const uint32_t t = a % b;
    a = b;
    b = t;
  }
  period_ = frameRateHz_ / a;
  codes_.reserve(period_);
}

// The table is filled as far as frames ask for it: a short run pays for the
// sines it plays, not for a whole period (1,000 of them at 1 MHz).
void ToneSignal::Compute(size_t end) {
  for (size_t k = codes_.size(); k < end; ++k) {
    const uint64_t cycle = k * kFrequencyHz % frameRateHz_;
    const long v = std::lround(kAmplitude * std::sin(kTwoPi * cycle / frameRateHz_));
    codes_.push_back(static_cast<uint32_t>(v) & kCodeMask);
  }
}

void ToneSignal::Codes(uint64_t first, uint32_t* out, size_t n) {
  const size_t period = period_;
  size_t i = static_cast<size_t>(first % period);
  // The stretch asked for ends in this period or reaches its end.
  const size_t end = n < period - i ? i + n : period;
  if (end > codes_.size()) Compute(end);
  const uint32_t* codes = codes_.data();
  // Whole stretches of the period at a time.
  while (n != 0) {
    const size_t run = std::min(n, period - i);
    std::copy_n(codes + i, run, out);
    out += run;
    n -= run;
    i = 0;
  }
}

uint32_t ToneSignal::NewPeriod(uint64_t k) {
  const auto i = static_cast<size_t>(k % period_);
  periodFirst_ = k - i;
  // Frame after frame: a stretch ahead at once, so the next ones stay in hand.
  if (i >= codes_.size()) Compute(std::min(period_, i + kComputedAhead));
  return codes_[i];
}

#if PELMOK_HAVE_SNDFILE

bool WavSignal::Supported() { return true; }

// libsndfile, and the FLAC, Vorbis, Opus and MPEG libraries it brings, are
// loaded at the first WAV file: a run of any other signal starts without
// them (most of a run's start-up was the dynamic loader binding them).
struct SndfileCalls {
  decltype(&sf_open_fd) open_fd;
  decltype(&sf_strerror) strerror;
  decltype(&sf_command) command;
  decltype(&sf_close) close;
  decltype(&sf_seek) seek;
  decltype(&sf_readf_int) readf_int;
  decltype(&sf_readf_double) readf_double;
};

namespace {

// nullptr, with dlerror's one line in *why, when the library or one of its
// calls is missing. Loaded once; never unloaded.
const SndfileCalls* LoadSndfile(std::string* why) {
  static SndfileCalls calls{};
  static void* library = nullptr;
  if (library != nullptr) return &calls;
  void* loaded = hostlib::OpenSharedLibrary(PELMOK_SNDFILE_SONAME, why);
  if (loaded == nullptr || !hostlib::BindCall(loaded, "sf_open_fd", &calls.open_fd, why) ||
      !hostlib::BindCall(loaded, "sf_strerror", &calls.strerror, why) ||
      !hostlib::BindCall(loaded, "sf_command", &calls.command, why) ||
      !hostlib::BindCall(loaded, "sf_close", &calls.close, why) ||
      !hostlib::BindCall(loaded, "sf_seek", &calls.seek, why) ||
      !hostlib::BindCall(loaded, "sf_readf_int", &calls.readf_int, why) ||
      !hostlib::BindCall(loaded, "sf_readf_double", &calls.readf_double, why))
    return nullptr;
  library = loaded;
  return &calls;
}

// The WAV containers libsndfile knows (WAVE_FORMAT_EXTENSIBLE reads as WAVEX,
// RF64 is WAV past 4 GiB) and the sample encodings it reads as integer PCM or
// float; companded and compressed encodings are no converter's codes.
bool IsWavOfPcmOrFloat(int format) {
  const int container = format & SF_FORMAT_TYPEMASK;
  const int encoding = format & SF_FORMAT_SUBMASK;
  const bool wav =
      container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX || container == SF_FORMAT_RF64;
  const bool pcm = encoding == SF_FORMAT_PCM_S8 || encoding == SF_FORMAT_PCM_U8 ||
                   encoding == SF_FORMAT_PCM_16 || encoding == SF_FORMAT_PCM_24 ||
                   encoding == SF_FORMAT_PCM_32 || encoding == SF_FORMAT_FLOAT ||
                   encoding == SF_FORMAT_DOUBLE;
  return wav && pcm;
}

// A float sample, full scale +-1.0 as libsndfile hands it over normalised, to
// the nearest code. Beyond full scale it clips; NaN carries no value and is 0.
// (sf_read_int would not serve here: it scales floats by 1, or by the file's
// own peak, never to full-scale int32.)
uint32_t FloatCode(double x) {
  if (std::isnan(x)) return 0;
  const double clipped = std::min(8388607.0, std::max(-8388608.0, x * 8388608.0));
  return static_cast<uint32_t>(std::lrint(clipped)) & kCodeMask;
}

// libsndfile's MPEG decoder (libmpg123) writes notes on bytes it cannot
// decode straight to standard error, which under pelmok-daq is the board's
// console alone; they are held back while libsndfile looks at a file, its
// verdict making the one-line refusal.
class QuietStandardError {
 public:
  QuietStandardError() : saved_(fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0)) {
    std::fflush(stderr);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) dup2(null, STDERR_FILENO);
    if (null >= 0) close(null);
  }
  ~QuietStandardError() {
    if (saved_ < 0) return;
    dup2(saved_, STDERR_FILENO);
    close(saved_);
  }
  QuietStandardError(const QuietStandardError&) = delete;
  QuietStandardError& operator=(const QuietStandardError&) = delete;

 private:
  int saved_;
};

}  // namespace

std::shared_ptr<WavSignal> WavSignal::Load(const std::string& path, std::string* error,
                                           size_t blockSamples) {
  const std::string where = "wav:" + path + ": ";
  std::string why;
  const SndfileCalls* sndfile = LoadSndfile(&why);
  if (sndfile == nullptr) {
    SetError(error, where + "cannot load libsndfile (" + why + ")");
    return nullptr;
  }
  // libsndfile reads the descriptor checked to be a regular file's, so the
  // file checked is the file read. Quiet until a refused file is closed too.
  const QuietStandardError quiet;
  std::shared_ptr<WavSignal> wav(new WavSignal);
  wav->sndfile_ = sndfile;
  wav->fd_ = hostlib::OpenRegularFile(path, O_RDONLY);
  if (wav->fd_ < 0) {
    SetError(error, where + hostlib::OpenErrorText(errno));
    return nullptr;
  }
  SF_INFO info = {};
  wav->file_ = sndfile->open_fd(wav->fd_, SFM_READ, &info, SF_FALSE);
  if (wav->file_ == nullptr) {
    SetError(error, where + "not a WAV file libsndfile reads (" + sndfile->strerror(nullptr) + ")");
    return nullptr;
  }
  if (!IsWavOfPcmOrFloat(info.format)) {
    SF_FORMAT_INFO format = {};
    format.format = info.format & SF_FORMAT_SUBMASK;
    sndfile->command(nullptr, SFC_GET_FORMAT_INFO, &format, sizeof format);
    SetError(error, where +
                        "not a WAV file of integer PCM or float samples (libsndfile reads it as " +
                        (format.name ? format.name : "an unknown encoding") + ")");
    return nullptr;
  }
  if (info.frames <= 0) {
    SetError(error, where + "no samples (0 frames)");
    return nullptr;
  }
  const int encoding = info.format & SF_FORMAT_SUBMASK;
  wav->floats_ = encoding == SF_FORMAT_FLOAT || encoding == SF_FORMAT_DOUBLE;
  wav->fileRateHz_ = info.samplerate > 0 ? static_cast<uint32_t>(info.samplerate) : 0;
  wav->channels_ = static_cast<uint32_t>(info.channels);
  wav->frames_ = static_cast<uint64_t>(info.frames);
  wav->capacityFrames_ = std::max<uint64_t>(1, std::max<size_t>(1, blockSamples) / wav->channels_);
  wav->block_.resize(wav->capacityFrames_);
  (wav->floats_ ? wav->doubles_.resize(wav->capacityFrames_ * wav->channels_)
                : wav->ints_.resize(wav->capacityFrames_ * wav->channels_));
  // A file that fits is read once and repeated to fill the block, so a short
  // loop costs no reading at all.
  if (wav->frames_ <= wav->capacityFrames_) {
    wav->Refill(0);
    const uint64_t copies = wav->capacityFrames_ / wav->frames_;
    for (uint64_t c = 1; c < copies; ++c)
      std::copy_n(wav->block_.begin(), wav->frames_, wav->block_.begin() + c * wav->frames_);
    wav->blockFrames_ = copies * wav->frames_;
    wav->resident_ = true;
  }
  return wav;
}

WavSignal::~WavSignal() {
  if (file_ != nullptr) sndfile_->close(file_);
  if (fd_ >= 0) close(fd_);
}

uint32_t WavSignal::Refill(uint64_t k) {
  const uint64_t frame = k % frames_;
  blockFirst_ = k - frame;
  if (resident_) return block_[frame];  // blockFrames_ is a whole number of loops
  blockFirst_ = k;
  blockFrames_ = std::min(capacityFrames_, frames_ - frame);
  const sf_count_t want = static_cast<sf_count_t>(blockFrames_);
  sf_count_t got = -1;
  if (frame == cursor_ || sndfile_->seek(file_, static_cast<sf_count_t>(frame), SEEK_SET) >= 0)
    got = floats_ ? sndfile_->readf_double(file_, doubles_.data(), want)
                  : sndfile_->readf_int(file_, ints_.data(), want);
  const uint64_t read = got > 0 ? static_cast<uint64_t>(got) : 0;
  // A frame libsndfile cannot deliver (a file cut short while it runs) is
  // silence; the next block seeks afresh.
  cursor_ = read == blockFrames_ ? frame + read : frames_;
  // Integer PCM comes as full-scale int32 (8-bit unsigned recentred, narrower
  // samples shifted up): its top 24 bits are the code. Shifting the unsigned
  // bit pattern and masking gives the same two's complement code as an
  // arithmetic shift of the signed value would.
  for (uint64_t i = 0; i < blockFrames_; ++i) {
    const size_t first = i * channels_;
    block_[i] = i >= read ? 0
                : floats_ ? FloatCode(doubles_[first])
                          : (static_cast<uint32_t>(ints_[first]) >> 8) & kCodeMask;
  }
  return block_[0];
}

#else  // no libsndfile in this build

bool WavSignal::Supported() { return false; }

std::shared_ptr<WavSignal> WavSignal::Load(const std::string&, std::string* error, size_t) {
  SetError(error, "this build has no WAV support");
  return nullptr;
}

WavSignal::~WavSignal() = default;

uint32_t WavSignal::Refill(uint64_t) { return 0; }

#endif

std::shared_ptr<SignalSource> MakeSignal(const std::string& kind, uint32_t frameRateHz,
                                         std::string* error) {
  if (kind.empty() || kind == "tone") return std::make_shared<ToneSignal>(frameRateHz);
  if (kind == "counter") return std::make_shared<CounterSignal>();
  if (kind == "silence") return std::make_shared<SilenceSignal>();
  if (kind == "none") return std::make_shared<NoSignal>();
  if (kind.compare(0, 4, "wav:") == 0) {
    if (kind.size() == 4) {
      SetError(error, "wav: needs a file name (wav:FILE)");
      return nullptr;
    }
    return WavSignal::Load(kind.substr(4), error);
  }
  SetError(error, "unknown signal '" + kind + "' (tone, counter, silence, none or wav:FILE)");
  return nullptr;
}

}  // namespace sim
