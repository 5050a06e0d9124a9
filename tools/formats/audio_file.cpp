#include "tools/formats/audio_file.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>
#include <sndfile.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include "tools/common/board_time.h"
#include "tools/common/version.h"
#include "tools/formats/text.h"

namespace datatools {
namespace {

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

void AppendWord(std::string* out, uint32_t word) {
  for (int b = 0; b < 4; ++b) out->push_back(static_cast<char>(word >> (8 * b)));
}

// The `cue ` chunk, written as a chunk of our own for WAV and RF64 alike
// (libsndfile's RF64 writer drops SFC_SET_CUE): a count, then per point its
// id, position, "data", chunk and block start 0, and its sample offset. The
// 32-bit offsets are why a joined file ends at 2^32 samples.
std::string CueChunk(const std::vector<CueMark>& cues) {
  std::string chunk;
  AppendWord(&chunk, static_cast<uint32_t>(cues.size()));
  for (size_t i = 0; i < cues.size(); ++i) {
    AppendWord(&chunk, static_cast<uint32_t>(i + 1));
    AppendWord(&chunk, static_cast<uint32_t>(cues[i].sample));
    chunk += "data";
    AppendWord(&chunk, 0);
    AppendWord(&chunk, 0);
    AppendWord(&chunk, static_cast<uint32_t>(cues[i].sample));
  }
  return chunk;
}

// The `adtl` list: a `labl` per cue point, its text NUL-terminated and padded
// with NULs to whole 32-bit words, so the list is too and libsndfile, which
// rounds a chunk it is given up to 4 bytes, adds nothing after the last label.
std::string AdtlList(const std::vector<CueMark>& cues) {
  std::string list = "adtl";
  for (size_t i = 0; i < cues.size(); ++i) {
    std::string data;
    const uint32_t id = static_cast<uint32_t>(i + 1);
    AppendWord(&data, id);
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
  std::vector<std::pair<std::string, std::string>> fields;
  if (p.timed) fields.push_back({"Timestamp", p.StartLocalText()});
  const std::vector<std::pair<std::string, std::string>> common = {
      {"Samplerate", std::to_string(p.rateHz)},
      {"Length", Printf("%.6f", length)},
      {"Original Filename", p.sourceFile},
      {"Make", "Pelmok"},
      {"Model", "Pelmok prototype hydrophone receiver (PXA27x, 24-bit converter on SSP3)"},
      {"Note", BextDescription(p)},
      {"Pelmok|Record", std::to_string(p.sourceRecord)},
      {"Pelmok|Software", tools::ProgramVersion("pelmok-data")},
  };
  fields.insert(fields.end(), common.begin(), common.end());
  if (p.timed && p.utcKnown) {
    fields.push_back({"Pelmok|Start UTC", p.StartUtcText()});
    const double whole = std::floor(p.writeUtc);
    fields.push_back({"Pelmok|Write UTC", p.writeUtc == whole ? UtcText(static_cast<int64_t>(whole))
                                                              : UtcText(p.writeUtc, 3)});
  }
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

// Both libraries write through here, so a failed write keeps the system's
// reason ("No space left on device"), not the library's word for it.
bool SinkWrite(AudioWriter::Sink* sink, const void* data, size_t bytes) {
  const char* at = static_cast<const char*>(data);
  while (bytes > 0) {
    const ssize_t n = write(sink->descriptor, at, bytes);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (sink->error == 0) sink->error = n < 0 ? errno : EIO;
      return false;
    }
    at += n;
    bytes -= static_cast<size_t>(n);
  }
  return true;
}

// libFLAC's output on a descriptor: it seeks back at the end to fill in the
// stream's length and checksum.
FLAC__StreamEncoderWriteStatus FlacWrite(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                         size_t bytes, uint32_t, uint32_t, void* context) {
  return SinkWrite(static_cast<AudioWriter::Sink*>(context), buffer, bytes)
             ? FLAC__STREAM_ENCODER_WRITE_STATUS_OK
             : FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
}

int SinkDescriptor(void* context) { return static_cast<AudioWriter::Sink*>(context)->descriptor; }

// libsndfile's virtual I/O on the same sink.
sf_count_t SfLength(void* context) {
  struct stat st;
  return fstat(SinkDescriptor(context), &st) == 0 ? st.st_size : -1;
}
sf_count_t SfSeek(sf_count_t offset, int whence, void* context) {
  return lseek(SinkDescriptor(context), static_cast<off_t>(offset), whence);
}
sf_count_t SfRead(void* data, sf_count_t bytes, void* context) {
  return read(SinkDescriptor(context), data, static_cast<size_t>(bytes));
}
sf_count_t SfWrite(const void* data, sf_count_t bytes, void* context) {
  return SinkWrite(static_cast<AudioWriter::Sink*>(context), data, static_cast<size_t>(bytes))
             ? bytes
             : 0;
}
sf_count_t SfTell(void* context) { return lseek(SinkDescriptor(context), 0, SEEK_CUR); }

FLAC__StreamEncoderSeekStatus FlacSeek(const FLAC__StreamEncoder*, FLAC__uint64 offset,
                                       void* context) {
  return lseek(SinkDescriptor(context), static_cast<off_t>(offset), SEEK_SET) < 0
             ? FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR
             : FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
}

FLAC__StreamEncoderTellStatus FlacTell(const FLAC__StreamEncoder*, FLAC__uint64* offset,
                                       void* context) {
  const off_t at = lseek(SinkDescriptor(context), 0, SEEK_CUR);
  if (at < 0) return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
  *offset = static_cast<FLAC__uint64>(at);
  return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

}  // namespace

int64_t AudioProvenance::StartSecond() const { return FloorDiv(startSample, rateHz); }

double AudioProvenance::StartUtc() const { return static_cast<double>(startSample) / rateHz; }

bool AudioProvenance::StartIsWhole() const { return startSample % rateHz == 0; }

std::string AudioProvenance::StartUtcText() const {
  return StartIsWhole() ? UtcText(StartSecond()) : UtcText(StartUtc(), 6);
}

std::string AudioProvenance::StartLocalText() const {
  if (!utcKnown) {
    std::string text = StartUtcText();  // the local clock's reading
    text.pop_back();
    return text;
  }
  // The local clock reads the UTC time moved by the offset; the text keeps the offset.
  const double local = StartUtc() + offsetMinutes * 60.0;
  std::string text =
      StartIsWhole() ? UtcText(StartSecond() + offsetMinutes * 60LL) : UtcText(local, 6);
  text.pop_back();  // the "Z"
  return text + OffsetText(offsetMinutes);
}

uint64_t TimeReference(const AudioProvenance& p) {
  const int64_t midnight = FloorDiv(p.StartSecond(), 86400) * 86400;
  return static_cast<uint64_t>(p.startSample - midnight * static_cast<int64_t>(p.rateHz));
}

std::string BextDescription(const AudioProvenance& p) {
  const std::string what =
      p.summary.empty() ? "Pelmok " + p.sourceFile + " record " + std::to_string(p.sourceRecord)
                        : p.summary;
  const std::string when =
      !p.timed ? ": no time known. "
      : !p.utcKnown
          ? ": starts " + p.StartLocalText() + " local time; UTC not known. "
          : ": starts " + p.StartUtcText() + " (local " + p.StartLocalText() + "); times are UTC. ";
  return what + when + std::to_string(p.samples) + " codes at " + std::to_string(p.rateHz) +
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

uint64_t AudioWriter::CueSampleLimit() { return 0xFFFFFFFFull; }

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
  *error = path_ + ": " + (sink_.error != 0 ? std::strerror(sink_.error) : reason);
  return false;
}

namespace {

// The broadcast-WAV `bext` record: UTC origination, the time reference in
// samples from UTC midnight, the source, and the program in the coding history.
bool WriteBext(SNDFILE* out, const AudioProvenance& provenance) {
  SF_BROADCAST_INFO bext;
  std::memset(&bext, 0, sizeof bext);
  SetField(bext.description, BextDescription(provenance));
  SetField(bext.originator, "pelmok-data");
  SetField(bext.originator_reference,
           provenance.sourceFile + "#" + std::to_string(provenance.sourceRecord));
  // UTC, as the time reference: "2026-10-25T00:59:39Z" split into its date and time
  // (the board's local clock when UTC is not known).
  const std::string start = provenance.timed ? UtcText(provenance.StartSecond()) : std::string();
  if (provenance.timed) {
    SetField(bext.origination_date, start.substr(0, 10));
    SetField(bext.origination_time, start.substr(11, 8));
  }
  const uint64_t reference = provenance.timed ? TimeReference(provenance) : 0;
  bext.time_reference_low = static_cast<uint32_t>(reference);
  bext.time_reference_high = static_cast<uint32_t>(reference >> 32);
  bext.version = 2;
  // The coding history's free text names the program and version that wrote the file.
  const std::string history =
      Printf("A=PCM,F=%u,W=24,M=mono,T=Pelmok converter codes; times %s; %s\r\n", provenance.rateHz,
             provenance.utcKnown ? "UTC" : "local, UTC not known",
             tools::ProgramVersion("pelmok-data").c_str());
  SetField(bext.coding_history, history);
  bext.coding_history_size = static_cast<uint32_t>(history.size());
  return sf_command(out, SFC_SET_BROADCAST_INFO, &bext, sizeof bext) == SF_TRUE;
}

}  // namespace

// A RIFF WAV while its sizes fit 32 bits; beyond, RF64 (EBU Tech 3306: a
// `ds64` chunk holds the 64-bit sizes) with the same bext, GUANO and cue chunks.
bool AudioWriter::OpenWav(const AudioProvenance& provenance, const std::vector<CueMark>& cues,
                          std::string* error) {
  if (!cues.empty() && provenance.samples > CueSampleLimit())
    return Fail(
        Printf("%" PRIu64 " samples: cue points reach sample %" PRIu64 " at most: fewer records",
               provenance.samples, CueSampleLimit()),
        error);
  SF_INFO info;
  std::memset(&info, 0, sizeof info);
  info.samplerate = static_cast<int>(provenance.rateHz);
  info.channels = 1;
  info.format =
      (provenance.samples > WavSampleLimit() ? SF_FORMAT_RF64 : SF_FORMAT_WAV) | SF_FORMAT_PCM_24;
  static SF_VIRTUAL_IO io = {SfLength, SfSeek, SfRead, SfWrite, SfTell};
  SNDFILE* out = sf_open_virtual(&io, SFM_WRITE, &info, &sink_);
  if (out == nullptr) return Fail(sf_strerror(nullptr), error);
  file_ = out;
  if (!WriteBext(out, provenance)) return Fail("cannot write the bext chunk", error);
  if (!SetChunk(out, "guan", GuanoText(provenance)))
    return Fail("cannot write the GUANO chunk", error);
  if (cues.empty()) return true;
  if (!SetChunk(out, "cue ", CueChunk(cues))) return Fail("cannot write the cue points", error);
  if (!SetChunk(out, "LIST", AdtlList(cues))) return Fail("cannot write the cue labels", error);
  return true;
}

bool AudioWriter::Open(int descriptor, const std::string& path, AudioFormat format,
                       const AudioProvenance& provenance, const std::vector<CueMark>& cues,
                       std::string* error) {
  path_ = path;
  sink_ = Sink{descriptor, 0};
  format_ = format;
  provenance_ = provenance;
  if (format == AudioFormat::kWav) return OpenWav(provenance, cues, error);

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
  std::shared_ptr<FLAC__StreamMetadata> comments(
      FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT), FLAC__metadata_object_delete);
  if (comments == nullptr) return Fail("out of memory", error);
  comments_ = comments;
  std::vector<std::pair<std::string, std::string>> tags = {
      {"TITLE", !provenance.timed     ? provenance.sourceFile
                : provenance.utcKnown ? UtcBasicText(provenance.StartSecond())
                                      : UtcBasicText(provenance.StartSecond()).substr(0, 15)},
      {"COMMENT", BextDescription(provenance)},
      {"ENCODER", tools::ProgramVersion("pelmok-data")},
      {"GUANO|Version", "1.0"}};
  if (provenance.timed) tags.push_back({"DATE", provenance.StartLocalText()});
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
      FLAC__stream_encoder_init_stream(encoder, FlacWrite, FlacSeek, FlacTell, nullptr, &sink_);
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
    for (size_t i = 0; i < count; ++i)
      frames_[i] = static_cast<int>(static_cast<uint32_t>(codes[i]) << 8);
    SNDFILE* out = static_cast<SNDFILE*>(file_);
    if (sf_write_int(out, frames_.data(), static_cast<sf_count_t>(count)) !=
        static_cast<sf_count_t>(count))
      return Fail(sf_strerror(out), error);
    return true;
  }
  static_assert(sizeof(FLAC__int32) == sizeof(int32_t), "FLAC samples are 32-bit");
  if (!FLAC__stream_encoder_process_interleaved(Encoder(file_),
                                                reinterpret_cast<const FLAC__int32*>(codes),
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
