// libFuzzer target for what the CSV and audio writers are given: any text in
// a field, a data file's name, a time-zone rule, a timing note or a cue label,
// any times and codes. Checked:
// - CSV: a row of the fields, read back by an RFC 4180 reader written here
//   from the RFC, is the same fields, and is one whole CRLF-ended record;
// - WAV (with cue points) and FLAC: the file AudioWriter makes, read back by
//   libsndfile, opens and holds exactly the codes (24-bit, as written) and
//   the frame count; WAV's cue points are as many as were given.
#include <fuzzer/FuzzedDataProvider.h>
#include <sndfile.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/common/csv.h"
#include "tools/formats/audio_file.h"

namespace {

// One record of RFC 4180: fields, commas, CRLF at the end; false if the text
// is not exactly one such record.
bool ReadRecord(const std::string& text, std::vector<std::string>* fields) {
  size_t i = 0;
  const size_t n = text.size();
  for (;;) {
    std::string field;
    if (i < n && text[i] == '"') {
      for (++i;; ++i) {
        if (i >= n) return false;
        if (text[i] != '"') {
          field += text[i];
        } else if (i + 1 < n && text[i + 1] == '"') {
          field += '"';
          ++i;
        } else {
          ++i;
          break;
        }
      }
    } else {
      while (i < n && text[i] != ',' && text[i] != '\r' && text[i] != '\n' && text[i] != '"')
        field += text[i++];
    }
    fields->push_back(field);
    if (i < n && text[i] == ',') {
      ++i;
      continue;
    }
    return i + 2 == n && text[i] == '\r' && text[i + 1] == '\n';
  }
}

void CheckCsv(FuzzedDataProvider& in) {
  std::vector<std::string> fields(in.ConsumeIntegralInRange<size_t>(1, 8));
  for (std::string& f : fields) f = in.ConsumeRandomLengthString(64);
  std::vector<std::string> back;
  if (!ReadRecord(datatools::CsvLine(fields), &back) || back != fields) std::abort();
}

void CheckAudio(FuzzedDataProvider& in) {
  const bool flac = in.ConsumeBool();
  datatools::AudioProvenance p;
  p.rateHz = in.ConsumeIntegralInRange<uint32_t>(1, 655350);
  p.timed = in.ConsumeBool();
  p.writeUtc = in.ConsumeIntegralInRange<int64_t>(-(int64_t{1} << 40), int64_t{1} << 40);
  p.startSample = p.writeUtc * p.rateHz - in.ConsumeIntegralInRange<int64_t>(0, 1 << 20);
  p.offsetMinutes = in.ConsumeIntegralInRange<int32_t>(-24 * 60, 24 * 60);
  p.sourceFile = in.ConsumeRandomLengthString(40);
  p.sourceRecord = in.ConsumeIntegral<uint32_t>();
  p.timing = in.ConsumeRandomLengthString(40);
  p.summary = in.ConsumeBool() ? in.ConsumeRandomLengthString(40) : "";
  p.extra = {{"Pelmok|Time Zone", in.ConsumeRandomLengthString(40)}};
  std::vector<datatools::CueMark> cues;
  if (!flac)
    for (size_t k = in.ConsumeIntegralInRange<size_t>(0, 4); k > 0; --k)
      cues.push_back(
          {in.ConsumeIntegralInRange<uint64_t>(0, 64), in.ConsumeRandomLengthString(40)});
  std::vector<int32_t> codes;
  while (in.remaining_bytes() >= 3 && codes.size() < 4096)
    codes.push_back(in.ConsumeIntegralInRange<int32_t>(-(1 << 23), (1 << 23) - 1));
  // A record holds a sample at least (libsndfile reads an empty data chunk
  // as one of unknown length).
  if (codes.empty()) codes.push_back(0);
  p.samples = codes.size();

  const int fd = memfd_create("audio", 0);
  if (fd < 0) std::abort();
  datatools::AudioWriter writer;
  std::string error;
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  const bool written =
      writer.Open(fd, path, flac ? datatools::AudioFormat::kFlac : datatools::AudioFormat::kWav, p,
                  cues, &error) &&
      writer.Append(codes.data(), codes.size(), &error) && writer.Close(&error);
  // FLAC has no rate above 655350 Hz and no stream without samples: a refusal, in one line.
  if (!written) {
    if (error.find('\n') != std::string::npos || error.compare(0, path.size(), path) != 0)
      std::abort();
    close(fd);
    return;
  }
  SF_INFO info = {};
  lseek(fd, 0, SEEK_SET);
  SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, SF_FALSE);
  if (file == nullptr || info.frames != static_cast<sf_count_t>(codes.size()) ||
      info.channels != 1) {
    std::fprintf(stderr, "read back: %s, %lld frames of %zu\n", sf_strerror(file),
                 static_cast<long long>(info.frames), codes.size());
    std::abort();
  }
  std::vector<int> frames(codes.size());
  if (sf_readf_int(file, frames.data(), info.frames) != info.frames) std::abort();
  for (size_t i = 0; i < codes.size(); ++i)
    if ((frames[i] >> 8) != codes[i]) std::abort();
  if (!flac) {
    SF_CUES read = {};
    const bool hasCues = sf_command(file, SFC_GET_CUE, &read, sizeof read) == SF_TRUE;
    if (hasCues ? read.cue_count != cues.size() : !cues.empty()) std::abort();
  }
  sf_close(file);
  close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool()) {
    CheckCsv(in);
  } else {
    CheckAudio(in);
  }
  return 0;
}
