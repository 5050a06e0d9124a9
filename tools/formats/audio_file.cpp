#include "tools/pelmok-data/audio_file.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>
#include <sndfile.h>

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

namespace datatools {
namespace {

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::tm CivilUtc(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  return tm;
}

std::string Fraction(int micros) { return micros ? Printf(".%06d", micros) : std::string(); }

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Copies into a fixed field of a bext record, not necessarily terminated.
template <size_t N>
void SetField(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(N, text.size()));
}

// A RIFF sub-chunk: id, little-endian size, data, padded to an even size.
void AppendSubChunk(std::string* out, const char* id, const std::string& data) {
  out->append(id, 4);
  const uint32_t size = static_cast<uint32_t>(data.size());
  for (int b = 0; b < 4; ++b) out->push_back(static_cast<char>(size >> (8 * b)));
  *out += data;
  if (data.size() & 1) out->push_back('\0');
}

// The `adtl` list: a `labl` per cue point, its text NUL-terminated and padded
// with NULs to whole 32-bit words, so the list is too and libsndfile, which
// rounds a chunk it is given up to 4 bytes, adds nothing after the last label.
std::string AdtlList(const std::vector<CueMark>& cues) {
  std::string list = "adtl";
  for (size_t i = 0; i < cues.size(); ++i) {
    std::string data;
    const uint32_t id = static_cast<uint32_t>(i + 1);
    for (int b = 0; b < 4; ++b) data.push_back(static_cast<char>(id >> (8 * b)));
    data += cues[i].label;
    data.push_back('\0');
    while (data.size() % 4) data.push_back('\0');
    AppendSubChunk(&list, "labl", data);
  }
  return list;
}

bool SetChunk(SNDFILE* file, const char* id, const std::string& data) {
  SF_CHUNK_INFO chunk;
  std::memset(&chunk, 0, sizeof chunk);
  std::memcpy(chunk.id, id, 4);
  chunk.id_size = 4;
  chunk.data = const_cast<char*>(data.data());
  chunk.datalen = static_cast<unsigned>(data.size());
  return sf_set_chunk(file, &chunk) == SF_ERR_NO_ERROR;
}

// The fields every exported file carries, in GUANO's names; FLAC carries the
// same as Vorbis comments.
std::vector<std::pair<std::string, std::string>> MetadataFields(const AudioProvenance& p) {
  const double length = static_cast<double>(p.samples) / p.rateHz;
  std::vector<std::pair<std::string, std::string>> fields = {
      {"Timestamp", LocalOffsetText(p.Start(), p.StartMicros())},
      {"Samplerate", std::to_string(p.rateHz)},
      {"Length", Printf("%.6f", length)},
      {"Original Filename", p.sourceFile},
      {"Make", "Pelmok"},
      {"Model", "Pelmok prototype hydrophone receiver (PXA27x, 24-bit converter on SSP3)"},
      {"Note", BextDescription(p)},
      {"Pelmok|Record", std::to_string(p.sourceRecord)},
      {"Pelmok|Start UTC", UtcText(p.StartSecond(), p.StartMicros())},
  };
  if (!p.writeUtc.empty()) fields.push_back({"Pelmok|Write UTC", p.writeUtc});
  if (!p.timing.empty()) fields.push_back({"Pelmok|Timing", p.timing});
  fields.push_back({"Pelmok|Scale", "2.5 V = 8388607 codes"});
  for (const auto& f : p.extra) fields.push_back(f);
  return fields;
}

// GUANO and Vorbis comment values are single lines.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

FLAC__StreamEncoder* Encoder(void* file) { return static_cast<FLAC__StreamEncoder*>(file); }

}  // namespace

std::string UtcText(int64_t utcSeconds, int micros) {
  const std::tm tm = CivilUtc(utcSeconds);
  return Printf("%04d-%02d-%02dT%02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec) +
         Fraction(micros) + "Z";
}

std::string UtcBasicText(int64_t utcSeconds) {
  const std::tm tm = CivilUtc(utcSeconds);
  return Printf("%04d%02d%02dT%02d%02d%02dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                tm.tm_min, tm.tm_sec);
}

std::string OffsetText(int offsetSeconds) {
  const int magnitude = offsetSeconds < 0 ? -offsetSeconds : offsetSeconds;
  return Printf("%c%02d:%02d", offsetSeconds < 0 ? '-' : '+', magnitude / 3600, magnitude / 60 % 60);
}

std::string LocalOffsetText(const ZonedTime& t, int micros) {
  const std::tm tm = CivilUtc(t.utcSeconds + t.offsetSeconds);
  return Printf("%04d-%02d-%02dT%02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec) +
         Fraction(micros) + OffsetText(t.offsetSeconds);
}

int64_t AudioProvenance::StartSecond() const { return FloorDiv(startSample, rateHz); }

int AudioProvenance::StartMicros() const {
  const int64_t within = startSample - StartSecond() * rateHz;
  return static_cast<int>(within * 1000000 / rateHz);
}

uint64_t TimeReference(const AudioProvenance& p) {
  const int64_t midnight = FloorDiv(p.StartSecond(), 86400) * 86400;
  return static_cast<uint64_t>(p.startSample - midnight * static_cast<int64_t>(p.rateHz));
}

std::string BextDescription(const AudioProvenance& p) {
  return "Pelmok " + p.sourceFile + " record " + std::to_string(p.sourceRecord) + ": starts " +
         UtcText(p.StartSecond(), p.StartMicros()) + " (local " +
         LocalOffsetText(p.Start(), p.StartMicros()) + "); times are UTC. " +
         std::to_string(p.samples) + " codes at " + std::to_string(p.rateHz) +
         " Hz, 2.5 V = 8388607." + (p.timing.empty() ? "" : " Time: " + p.timing + ".");
}

std::string GuanoText(const AudioProvenance& p) {
  std::string text = "GUANO|Version: 1.0\n";
  for (const auto& [key, value] : MetadataFields(p)) text += key + ": " + OneLine(value) + "\n";
  while (text.size() % 4) text.push_back(' ');
  return text;
}

uint64_t AudioWriter::WavSampleLimit() {
  // The RIFF size field counts 32 bits of bytes; room left for the header.
  return (0xFFFFFFFFull - (1u << 20)) / 3;
}

AudioWriter::~AudioWriter() {
  if (file_ == nullptr) return;
  if (format_ == AudioFormat::kWav) {
    sf_close(static_cast<SNDFILE*>(file_));
  } else {
    FLAC__stream_encoder_finish(Encoder(file_));
    FLAC__stream_encoder_delete(Encoder(file_));
  }
}

bool AudioWriter::Fail(const std::string& reason, std::string* error) {
  *error = path_ + ": " + reason;
  return false;
}

bool AudioWriter::Open(const std::string& path, AudioFormat format, const AudioProvenance& provenance,
                       const std::vector<CueMark>& cues, std::string* error) {
  path_ = path;
  format_ = format;
  provenance_ = provenance;
  if (format == AudioFormat::kWav) {
    if (provenance.samples > WavSampleLimit())
      return Fail(Printf("%" PRIu64 " samples do not fit a WAV file (at most %" PRIu64
                         "): write FLAC, or fewer records",
                         provenance.samples, WavSampleLimit()),
                  error);
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    info.samplerate = static_cast<int>(provenance.rateHz);
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE* out = sf_open(path.c_str(), SFM_WRITE, &info);
    if (out == nullptr) return Fail(sf_strerror(nullptr), error);
    file_ = out;

    SF_BROADCAST_INFO bext;
    std::memset(&bext, 0, sizeof bext);
    SetField(bext.description, BextDescription(provenance));
    SetField(bext.originator, "pelmok-data");
    SetField(bext.originator_reference, provenance.sourceFile + "#" + std::to_string(provenance.sourceRecord));
    const std::tm start = CivilUtc(provenance.StartSecond());
    SetField(bext.origination_date,
             Printf("%04d-%02d-%02d", start.tm_year + 1900, start.tm_mon + 1, start.tm_mday));
    SetField(bext.origination_time, Printf("%02d:%02d:%02d", start.tm_hour, start.tm_min, start.tm_sec));
    const uint64_t reference = TimeReference(provenance);
    bext.time_reference_low = static_cast<uint32_t>(reference);
    bext.time_reference_high = static_cast<uint32_t>(reference >> 32);
    bext.version = 2;
    const std::string history =
        Printf("A=PCM,F=%u,W=24,M=mono,T=Pelmok converter codes; times UTC\r\n", provenance.rateHz);
    SetField(bext.coding_history, history);
    bext.coding_history_size = static_cast<uint32_t>(history.size());
    if (sf_command(out, SFC_SET_BROADCAST_INFO, &bext, sizeof bext) != SF_TRUE)
      return Fail("cannot write the bext chunk", error);
    if (!SetChunk(out, "guan", GuanoText(provenance))) return Fail("cannot write the GUANO chunk", error);
    if (!cues.empty()) {
      // SF_CUES holds 100 points; the same layout with room for all of them.
      std::vector<uint8_t> block(sizeof(uint32_t) + cues.size() * sizeof(SF_CUE_POINT));
      const uint32_t count = static_cast<uint32_t>(cues.size());
      std::memcpy(block.data(), &count, sizeof count);
      for (size_t i = 0; i < cues.size(); ++i) {
        SF_CUE_POINT point;
        std::memset(&point, 0, sizeof point);
        point.indx = static_cast<int32_t>(i + 1);
        point.position = static_cast<uint32_t>(cues[i].sample);
        point.fcc_chunk = 0x61746164;  // "data"
        point.sample_offset = static_cast<uint32_t>(cues[i].sample);
        SetField(point.name, cues[i].label);
        std::memcpy(block.data() + sizeof(uint32_t) + i * sizeof point, &point, sizeof point);
      }
      if (sf_command(out, SFC_SET_CUE, block.data(), static_cast<int>(block.size())) != SF_TRUE)
        return Fail("cannot write the cue points", error);
      if (!SetChunk(out, "LIST", AdtlList(cues))) return Fail("cannot write the cue labels", error);
    }
    return true;
  }

  if (!cues.empty()) return Fail("cue points go into WAV files only", error);
  FLAC__StreamEncoder* encoder = FLAC__stream_encoder_new();
  if (encoder == nullptr) return Fail("out of memory", error);
  file_ = encoder;
  FLAC__stream_encoder_set_channels(encoder, 1);
  FLAC__stream_encoder_set_bits_per_sample(encoder, 24);
  FLAC__stream_encoder_set_sample_rate(encoder, provenance.rateHz);
  FLAC__stream_encoder_set_compression_level(encoder, 5);
  FLAC__stream_encoder_set_total_samples_estimate(encoder, provenance.samples);
  // The encoder writes the comments at its start and finish; they live as long as it.
  std::shared_ptr<FLAC__StreamMetadata> comments(FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT),
                                                 FLAC__metadata_object_delete);
  if (comments == nullptr) return Fail("out of memory", error);
  comments_ = comments;
  std::vector<std::pair<std::string, std::string>> tags = {
      {"TITLE", UtcBasicText(provenance.StartSecond())},
      {"DATE", LocalOffsetText(provenance.Start(), provenance.StartMicros())},
      {"COMMENT", BextDescription(provenance)},
      {"ENCODER", "pelmok-data"},
      {"GUANO|Version", "1.0"}};
  for (const auto& f : MetadataFields(provenance)) tags.push_back(f);
  for (const auto& [name, value] : tags) {
    FLAC__StreamMetadata_VorbisComment_Entry entry;
    if (!FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, name.c_str(),
                                                                       OneLine(value).c_str()) ||
        !FLAC__metadata_object_vorbiscomment_append_comment(comments.get(), entry, false))
      return Fail("cannot make the Vorbis comment " + name, error);
  }
  FLAC__StreamMetadata* blocks[] = {comments.get()};
  FLAC__stream_encoder_set_metadata(encoder, blocks, 1);
  const FLAC__StreamEncoderInitStatus status =
      FLAC__stream_encoder_init_file(encoder, path.c_str(), nullptr, nullptr);
  if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
    const std::string reason = status == FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR
                                   ? FLAC__stream_encoder_get_resolved_state_string(encoder)
                                   : FLAC__StreamEncoderInitStatusString[status];
    FLAC__stream_encoder_delete(encoder);
    file_ = nullptr;
    return Fail(reason, error);
  }
  return true;
}

bool AudioWriter::Append(const int32_t* codes, size_t count, std::string* error) {
  if (file_ == nullptr) return Fail("not open", error);
  if (format_ == AudioFormat::kWav) {
    // libsndfile takes ints at 32-bit scale and keeps the top 24 bits.
    frames_.resize(count);
    for (size_t i = 0; i < count; ++i) frames_[i] = static_cast<int>(static_cast<uint32_t>(codes[i]) << 8);
    SNDFILE* out = static_cast<SNDFILE*>(file_);
    if (sf_write_int(out, frames_.data(), static_cast<sf_count_t>(count)) != static_cast<sf_count_t>(count))
      return Fail(sf_strerror(out), error);
    return true;
  }
  static_assert(sizeof(FLAC__int32) == sizeof(int32_t), "FLAC samples are 32-bit");
  if (!FLAC__stream_encoder_process_interleaved(Encoder(file_), reinterpret_cast<const FLAC__int32*>(codes),
                                                static_cast<uint32_t>(count)))
    return Fail(FLAC__stream_encoder_get_resolved_state_string(Encoder(file_)), error);
  return true;
}

bool AudioWriter::AppendSilence(uint64_t count, std::string* error) {
  const std::vector<int32_t> zeros(static_cast<size_t>(std::min<uint64_t>(count, 1 << 16)), 0);
  while (count > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count, zeros.size()));
    if (!Append(zeros.data(), n, error)) return false;
    count -= n;
  }
  return true;
}

bool AudioWriter::Close(std::string* error) {
  if (file_ == nullptr) return Fail("not open", error);
  void* file = file_;
  file_ = nullptr;
  if (format_ == AudioFormat::kWav) {
    if (sf_close(static_cast<SNDFILE*>(file)) != 0) return Fail("cannot finish the file", error);
    return true;
  }
  FLAC__StreamEncoder* encoder = Encoder(file);
  const bool finished = FLAC__stream_encoder_finish(encoder);
  const std::string state = FLAC__stream_encoder_get_resolved_state_string(encoder);
  FLAC__stream_encoder_delete(encoder);
  if (!finished) return Fail(state, error);
  return true;
}

}  // namespace datatools
