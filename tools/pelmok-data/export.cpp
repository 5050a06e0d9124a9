#include "tools/pelmok-data/export_plot.h"

#include <sndfile.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <cstdarg>
#include <algorithm>
#include <vector>

#include "hardware/sample_values.h"
#include "tools/formats/data_file.h"

namespace datatools {
namespace {

// Copies into a fixed field of a bext record, not necessarily terminated.
template <size_t N>
void SetField(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(N, text.size()));
}

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// The name carries the moment of the write, when the record was complete;
// its first sample came about its length earlier.
std::string Description(const std::string& name, const FileTime* time, uint64_t samples,
                        uint32_t rateHz) {
  const double seconds = static_cast<double>(samples) / rateHz;
  std::string text = Printf("Pelmok data file %s: %" PRIu64 " converter codes at %u Hz, 2.5 V = 8388607.",
                            name.c_str(), samples, rateHz);
  if (time != nullptr) {
    text += Printf(" Time %s is the write, at the end of the record; the record started about %.6f s"
                   " earlier (its length at the rate).",
                   time->Text().c_str(), seconds);
  }
  return text;
}

bool WriteAudio(WordReader& reader, const std::string& output, ExportFormat format, uint32_t rateHz,
                const std::string& name, const FileTime* time, std::string* error) {
  SF_INFO info;
  std::memset(&info, 0, sizeof info);
  info.samplerate = static_cast<int>(rateHz);
  info.channels = 1;
  info.format = (format == ExportFormat::kWav ? SF_FORMAT_WAV : SF_FORMAT_FLAC) | SF_FORMAT_PCM_24;
  SNDFILE* out = sf_open(output.c_str(), SFM_WRITE, &info);
  if (out == nullptr) {
    *error = output + ": " + sf_strerror(nullptr);
    return false;
  }
  const std::string description = Description(name, time, reader.Words(), rateHz);
  if (format == ExportFormat::kWav) {
    SF_BROADCAST_INFO bext;
    std::memset(&bext, 0, sizeof bext);
    SetField(bext.description, description);
    SetField(bext.originator, "pelmok-data");
    SetField(bext.originator_reference, name);
    if (time != nullptr) {
      SetField(bext.origination_date, time->Date());
      SetField(bext.origination_time, time->Clock());
      // The time reference counts samples since midnight to the first
      // sample: the estimated start of the record.
      const int64_t midnight = (time->hour * 3600 + time->minute * 60 + time->second) *
                               static_cast<int64_t>(rateHz);
      const int64_t start = midnight - static_cast<int64_t>(reader.Words());
      const uint64_t reference = start > 0 ? static_cast<uint64_t>(start) : 0;
      bext.time_reference_low = static_cast<uint32_t>(reference);
      bext.time_reference_high = static_cast<uint32_t>(reference >> 32);
    }
    bext.version = 1;
    const std::string history = Printf("A=PCM,F=%u,W=24,M=mono,T=Pelmok converter codes\r\n", rateHz);
    SetField(bext.coding_history, history);
    bext.coding_history_size = static_cast<uint32_t>(history.size());
    if (sf_command(out, SFC_SET_BROADCAST_INFO, &bext, sizeof bext) != SF_TRUE) {
      *error = output + ": cannot write the bext chunk";
      sf_close(out);
      return false;
    }
  } else {
    sf_set_string(out, SF_STR_TITLE, name.c_str());
    sf_set_string(out, SF_STR_COMMENT, description.c_str());
    sf_set_string(out, SF_STR_SOFTWARE, "pelmok-data");
    // Local time, as the board named the file: no zone is known.
    if (time != nullptr) sf_set_string(out, SF_STR_DATE, (time->Date() + "T" + time->Clock()).c_str());
  }

  bool written = true;
  const bool read = reader.ForEachBlock([&](const std::vector<uint32_t>& block) {
    std::vector<int> frames(block.size());
    // libsndfile takes ints at 32-bit scale and keeps the top 24 bits.
    for (size_t i = 0; i < block.size(); ++i)
      frames[i] = static_cast<int>(static_cast<uint32_t>(CodeOf(block[i])) << 8);
    if (written && sf_write_int(out, frames.data(), static_cast<sf_count_t>(frames.size())) !=
                       static_cast<sf_count_t>(frames.size()))
      written = false;
  });
  if (!written) *error = output + ": " + sf_strerror(out);
  if (sf_close(out) != 0 && written) {
    *error = output + ": cannot finish the file";
    written = false;
  }
  if (!read) {
    *error = "read error";
    return false;
  }
  return written;
}

bool WriteCsv(WordReader& reader, const std::string& output, uint32_t rateHz, std::string* error) {
  FILE* out = std::fopen(output.c_str(), "w");
  if (out == nullptr) {
    *error = output + ": " + std::strerror(errno);
    return false;
  }
  std::fputs("index,time_s,code,volts\n", out);
  uint64_t index = 0;
  const bool read = reader.ForEachBlock([&](const std::vector<uint32_t>& block) {
    for (uint32_t word : block) {
      const int32_t code = CodeOf(word);
      std::fprintf(out, "%" PRIu64 ",%.9f,%d,%.10g\n", index,
                   static_cast<double>(index) / rateHz, code, AdcCodeToVolts(code));
      ++index;
    }
  });
  const bool written = !std::ferror(out);
  if (std::fclose(out) != 0 || !written) {
    *error = output + ": write error";
    return false;
  }
  if (!read) *error = "read error";
  return read;
}

}  // namespace

bool ParseExportFormat(const std::string& text, ExportFormat* format) {
  if (text == "wav") {
    *format = ExportFormat::kWav;
  } else if (text == "flac") {
    *format = ExportFormat::kFlac;
  } else if (text == "csv") {
    *format = ExportFormat::kCsv;
  } else {
    return false;
  }
  return true;
}

bool ExportDataFile(const std::string& input, const std::string& output, ExportFormat format,
                    uint32_t rateHz, std::string* error) {
  WordReader reader;
  if (!reader.Open(input, error)) return false;
  const std::string name = BaseName(input);
  FileTime time;
  const bool named = ParseFileName(name, &time);
  std::string reason;
  const bool ok = format == ExportFormat::kCsv
                      ? WriteCsv(reader, output, rateHz, &reason)
                      : WriteAudio(reader, output, format, rateHz, name, named ? &time : nullptr, &reason);
  if (!ok) *error = reason == "read error" ? input + ": read error" : reason;
  return ok;
}

}  // namespace datatools
