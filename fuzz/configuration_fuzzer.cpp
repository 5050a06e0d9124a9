// libFuzzer target for the board's configuration reader. Each input is the
// configuration file itself; ReadConfiguration runs on it through the host
// device layer, and the settings it stores and the lines it echoes are
// checked against a reference model of the file's rules kept here, apart from
// the reader's own code.
//
// NUL bytes: the reader takes lines with fgets, which copies a NUL like any
// other byte, but everything after it then reads as C strings, so a piece
// ends at its first NUL. The model does the same; NUL bytes are not filtered.
#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "acquisition/configuration.h"
#include "fuzz/scratch_folder.h"
#include "platform/host/host.h"

namespace {

namespace fs = std::filesystem;

// The field each known key sets, in the order keys are compared, and the
// text the board echoes before the value.
struct KnownKey {
  const char* key;
  const char* echo;
  int32_t AcquisitionConfig::*field;
};

const std::array<KnownKey, 6> kKnownKeys = {{
    {"Sample rate", "Sample rate", &AcquisitionConfig::sampleRate},
    {"Number of samples per record", "Samples per record", &AcquisitionConfig::samplesPerRecord},
    {"Number of hydrophones", "Hydrophones", &AcquisitionConfig::hydrophoneCount},
    {"Number of records per Flash Disk file", "Records per Flash Disk File",
     &AcquisitionConfig::recordsPerFile},
    {"Number of Flash Disk files per USB write", "Flash Disk files per USB write",
     &AcquisitionConfig::filesPerUsbWrite},
    {"Seconds to sleep between acquisitions", "Sleep Period rate",
     &AcquisitionConfig::sleepSeconds},
}};

// Every field starts from a value no file can leave by accident, so a field
// set when it should not be shows.
const AcquisitionConfig kUntouched = {-101, -102, -103, -104, -105, -106};

fs::path configurationFile;

[[noreturn]] void Mismatch(const std::string& what, const uint8_t* data, size_t size) {
  std::fprintf(stderr, "configuration reader disagrees with the model: %s\ninput (%zu bytes):\n",
               what.c_str(), size);
  std::fwrite(data, 1, size, stderr);
  std::fputc('\n', stderr);
  __builtin_trap();
}

// The pieces fgets hands over with an 80-byte buffer: at most 79 bytes, a
// piece ending after its '\n'; each as the C string it reads as.
std::vector<std::string> LinePieces(const uint8_t* data, size_t size) {
  std::vector<std::string> pieces;
  size_t i = 0;
  while (i < size) {
    const size_t start = i;
    while (i < size && i - start < 79) {
      if (data[i++] == '\n') break;
    }
    std::string piece(reinterpret_cast<const char*>(data + start), i - start);
    pieces.push_back(piece.substr(0, piece.find('\0')));
  }
  return pieces;
}

// The next ':'-separated field from `at`: runs of ':' are one separator and
// leading ones are skipped; false when nothing is left.
bool NextField(const std::string& text, size_t* at, std::string* field) {
  size_t p = text.find_first_not_of(':', *at);
  if (p == std::string::npos) {
    *at = text.size();
    return false;
  }
  size_t end = text.find(':', p);
  if (end == std::string::npos) end = text.size();
  *field = text.substr(p, end - p);
  *at = end;
  return true;
}

int32_t ModelValue(const std::string& text) {
  size_t p = 0;
  while (p < text.size() && (text[p] == ' ' || (text[p] >= '\t' && text[p] <= '\r'))) ++p;
  bool negative = false;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
  const int64_t bound = negative ? -int64_t{INT32_MIN} : int64_t{INT32_MAX};
  int64_t magnitude = 0;
  for (; p < text.size() && text[p] >= '0' && text[p] <= '9'; ++p) {
    magnitude = std::min(bound, magnitude * 10 + (text[p] - '0'));
  }
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

void Model(const uint8_t* data, size_t size, AcquisitionConfig* config, std::string* console) {
  *console = "Opened Configuration File \n";
  for (const std::string& piece : LinePieces(data, size)) {
    size_t at = 0;
    std::string key;
    std::string value;
    if (!NextField(piece, &at, &key)) continue;
    for (const KnownKey& known : kKnownKeys) {
      if (key != known.key) continue;
      if (NextField(piece, &at, &value)) {
        const int32_t stored = ModelValue(value);
        config->*known.field = stored;
        *console += std::string(known.echo) + " " + std::to_string(stored) + "\n";
      }
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const fs::path deviceRoot = fuzz::MakeScratchFolder("pelmok-fuzz");
  fs::create_directories(deviceRoot / "FlashFX Disk" / "Pelmok");
  configurationFile = deviceRoot / "FlashFX Disk" / "Pelmok" / "PelmokConfig.txt";
  host::SetDeviceRoot(deviceRoot.string());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* file = std::fopen(configurationFile.c_str(), "wb");
  if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
    std::perror(configurationFile.c_str());
    std::abort();
  }

  AcquisitionConfig read = kUntouched;
  std::string console;
  host::CaptureConsole(&console);
  const bool ok = ReadConfiguration(read);
  host::CaptureConsole(nullptr);

  AcquisitionConfig expected = kUntouched;
  std::string expectedConsole;
  Model(data, size, &expected, &expectedConsole);

  if (!ok) Mismatch("ReadConfiguration returned false", data, size);
  for (const KnownKey& known : kKnownKeys) {
    if (read.*known.field != expected.*known.field) {
      Mismatch(std::string(known.key) + ": read " + std::to_string(read.*known.field) +
                   ", expected " + std::to_string(expected.*known.field),
               data, size);
    }
  }
  if (console != expectedConsole) {
    Mismatch("console\n--- read:\n" + console + "--- expected:\n" + expectedConsole, data, size);
  }
  return 0;
}
