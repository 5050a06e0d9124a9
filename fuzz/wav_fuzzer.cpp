// libFuzzer target for the simulated converter's WAV input. Each input is a
// file's bytes, put in a memory file that WavSignal opens by its path
// (/proc/self/fd/N, a regular file) as `--signal wav:FILE` would. It is read
// twice, in a block that holds most inputs whole and in blocks of a frame or a
// few, each walked
// as the converter walks: forward past the end into the next loop, back to an
// earlier frame, ahead over frames an overrun skipped. Checked against
// libsndfile's own reading of the same bytes through virtual I/O, whole:
// - Load refuses exactly when libsndfile cannot open the bytes, they are not
//   a WAV file (WAV, WAVEX, RF64) of integer PCM or float samples, or hold 0
//   frames; a refusal is one line naming the path;
// - each code is the first channel's sample of frame k mod frames: integer
//   PCM as sf_readf_int's int32 shifted right by 8, floats from
//   sf_readf_double (full scale 1.0) rounded to the nearest of the 2^24 codes
//   and clipped; a frame past what libsndfile delivers is 0; every code
//   within 24 bits.
// libsndfile itself is Debian's, uninstrumented: coverage guides the search
// through this project's code only. Load holds standard error back while
// libsndfile opens a file, so a crash right there prints no report: rerun the
// artifact with ASAN_OPTIONS=log_path=FILE to see it.
#include <sndfile.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/signal.h"

namespace {

int memoryFile = -1;
std::string memoryPath;

struct Bytes {
  const uint8_t* data;
  sf_count_t size;
  sf_count_t at;
};

// The bytes as a file's descriptor shows them: a seek past the end succeeds
// (libsndfile skips chunks that way) and reads nothing there.
sf_count_t Length(void* user) { return static_cast<Bytes*>(user)->size; }
sf_count_t Seek(sf_count_t offset, int whence, void* user) {
  Bytes* b = static_cast<Bytes*>(user);
  const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? b->at : b->size;
  if (offset < -base || offset > INT64_MAX - base) return -1;
  b->at = base + offset;
  return b->at;
}
sf_count_t Read(void* to, sf_count_t count, void* user) {
  Bytes* b = static_cast<Bytes*>(user);
  const sf_count_t n = std::max<sf_count_t>(0, std::min(count, b->size - b->at));
  if (n > 0) std::memcpy(to, b->data + b->at, static_cast<size_t>(n));
  b->at += n;
  return n;
}
sf_count_t Write(const void*, sf_count_t, void*) { return 0; }
sf_count_t Tell(void* user) { return static_cast<Bytes*>(user)->at; }

// What libsndfile reads from the bytes: whether the source must take them,
// its frame count, and the first channel's codes it delivers.
struct Reading {
  bool accepted = false;
  uint64_t frames = 0;
  std::vector<uint32_t> codes;
};

Reading ReadWhole(const uint8_t* data, size_t size) {
  Reading r;
  Bytes bytes = {data, static_cast<sf_count_t>(size), 0};
  SF_VIRTUAL_IO io = {Length, Seek, Read, Write, Tell};
  SF_INFO info = {};
  SNDFILE* f = sf_open_virtual(&io, SFM_READ, &info, &bytes);
  if (f == nullptr) return r;
  const int container = info.format & SF_FORMAT_TYPEMASK;
  const int encoding = info.format & SF_FORMAT_SUBMASK;
  const bool floats = encoding == SF_FORMAT_FLOAT || encoding == SF_FORMAT_DOUBLE;
  r.accepted =
      (container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX || container == SF_FORMAT_RF64) &&
      (floats || encoding == SF_FORMAT_PCM_S8 || encoding == SF_FORMAT_PCM_U8 ||
       encoding == SF_FORMAT_PCM_16 || encoding == SF_FORMAT_PCM_24 ||
       encoding == SF_FORMAT_PCM_32) &&
      info.frames > 0;
  if (r.accepted) {
    r.frames = static_cast<uint64_t>(info.frames);
    const size_t channels = static_cast<size_t>(info.channels);
    // In pieces: a header may claim far more frames than the bytes hold.
    std::vector<int> ints(channels * 256);
    std::vector<double> reals(channels * 256);
    for (;;) {
      const sf_count_t got =
          floats ? sf_readf_double(f, reals.data(), 256) : sf_readf_int(f, ints.data(), 256);
      if (got <= 0) break;
      for (sf_count_t i = 0; i < got; ++i) {
        const size_t first = static_cast<size_t>(i) * channels;
        if (!floats) {
          r.codes.push_back(static_cast<uint32_t>(ints[first] >> 8) & sim::kCodeMask);
          continue;
        }
        double code = std::isnan(reals[first]) ? 0 : std::nearbyint(reals[first] * 8388608.0);
        code = std::max(-8388608.0, std::min(8388607.0, code));
        r.codes.push_back(static_cast<uint32_t>(static_cast<int32_t>(code)) & sim::kCodeMask);
      }
    }
  }
  sf_close(f);
  return r;
}

[[noreturn]] void Mismatch(const std::string& what) {
  std::fprintf(stderr, "WAV source disagrees with libsndfile: %s\n", what.c_str());
  __builtin_trap();
}

// Frames as the converter asks for them; wherever the loop is long, its
// start, the wrap at its end and a stretch in the middle.
std::vector<uint64_t> Walk(uint64_t frames) {
  std::vector<uint64_t> walk;
  const uint64_t ahead = std::min<uint64_t>(frames * 2 + frames / 2 + 1, 3000);
  for (uint64_t k = 0; k < ahead; ++k) walk.push_back(k);
  for (uint64_t k = frames > 5 ? frames - 5 : 0; k < frames + 5; ++k) walk.push_back(k);
  for (uint64_t k = frames / 2; k < frames / 2 + 9; ++k) walk.push_back(k);  // back
  for (uint64_t k = 5 * frames + 3; k < 5 * frames + 300; k += 7)
    walk.push_back(k);  // skipped ahead
  return walk;
}

void Check(const Reading& expected, size_t blockSamples) {
  std::string error;
  const auto wav = sim::WavSignal::Load(memoryPath, &error, blockSamples);
  if (!expected.accepted) {
    if (wav) Mismatch("took a file libsndfile refuses or that has no frames");
    if (error.rfind("wav:" + memoryPath + ": ", 0) != 0 || error.find('\n') != std::string::npos)
      Mismatch("refusal is not one line naming the path: " + error);
    return;
  }
  if (!wav) Mismatch("refused a file libsndfile reads: " + error);
  if (wav->Frames() != expected.frames)
    Mismatch(std::to_string(wav->Frames()) + " frames, libsndfile says " +
             std::to_string(expected.frames));
  if (wav->BufferBytes() > sim::WavSignal::kBlockSamples * (sizeof(uint32_t) + sizeof(double)))
    Mismatch("buffer of " + std::to_string(wav->BufferBytes()) + " bytes");
  for (const uint64_t k : Walk(expected.frames)) {
    const uint64_t frame = k % expected.frames;
    const uint32_t want = frame < expected.codes.size() ? expected.codes[frame] : 0;
    const uint32_t code = wav->Code(k);
    if (code != want || (code & ~sim::kCodeMask) != 0)
      Mismatch("block " + std::to_string(blockSamples) + ", frame " + std::to_string(k) +
               ": code " + std::to_string(code) + ", libsndfile " + std::to_string(want));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  memoryFile = memfd_create("pelmok-wav-fuzz", MFD_CLOEXEC);
  if (memoryFile < 0) {
    std::perror("memfd_create");
    std::abort();
  }
  memoryPath = "/proc/self/fd/" + std::to_string(memoryFile);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (ftruncate(memoryFile, 0) != 0 ||
      (size > 0 && pwrite(memoryFile, data, size, 0) != static_cast<ssize_t>(size))) {
    std::perror(memoryPath.c_str());
    std::abort();
  }
  const Reading expected = ReadWhole(data, size);
  // A block that holds most inputs whole (the default's way, a sixteenth of
  // its size to keep runs fast), and one of a frame or a few.
  Check(expected, sim::WavSignal::kBlockSamples / 16);
  Check(expected, 5);
  return 0;
}
