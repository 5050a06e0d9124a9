#include "acquisition/configuration.h"

#include <cstdio>
#include <cstring>

#include "platform/device.h"
#include "platform/kernel.h"

namespace {

const char kConfigurationPath[] = "\\FlashFX Disk\\Pelmok\\PelmokConfig.txt";

// 79 characters and the terminator: a longer line is taken in pieces.
const int kLineBuffer = 80;

struct Setting {
  const char* key;
  const wchar_t* echo;
  int32_t AcquisitionConfig::*field;
};

// Compared in this order; the first equal key wins.
const Setting kSettings[] = {
    {"Sample rate", L"Sample rate %d\n", &AcquisitionConfig::sampleRate},
    {"Number of samples per record", L"Samples per record %d\n",
     &AcquisitionConfig::samplesPerRecord},
    {"Number of hydrophones", L"Hydrophones %d\n", &AcquisitionConfig::hydrophoneCount},
    {"Number of records per Flash Disk file", L"Records per Flash Disk File %d\n",
     &AcquisitionConfig::recordsPerFile},
    {"Number of Flash Disk files per USB write", L"Flash Disk files per USB write %d\n",
     &AcquisitionConfig::filesPerUsbWrite},
    {"Seconds to sleep between acquisitions", L"Sleep Period rate %d\n",
     &AcquisitionConfig::sleepSeconds},
};

// The next piece of a line split at ':'. Runs of ':' count as one separator
// and leading ones are skipped, so no piece is empty; NULL when none is left.
char* NextPiece(char** cursor) {
  char* p = *cursor;
  while (*p == ':') ++p;
  if (*p == '\0') {
    *cursor = p;
    return NULL;
  }
  char* piece = p;
  while (*p != '\0' && *p != ':') ++p;
  if (*p == ':') *p++ = '\0';
  *cursor = p;
  return piece;
}

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Leading white space, an optional sign, decimal digits up to the first
// non-digit; no digits give 0. Out-of-range values are clamped to the 32-bit
// range instead of overflowing.
int32_t DecimalValue(const char* text) {
  while (IsSpace(*text)) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  const int64_t largest = 0x7FFFFFFF;
  const int64_t limit = negative ? largest + 1 : largest;
  int64_t magnitude = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    magnitude = magnitude * 10 + (*text - '0');
    if (magnitude > limit) magnitude = limit;
  }
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

const int32_t kSettingCount = sizeof kSettings / sizeof kSettings[0];

ConfigurationObserver observer = NULL;
void* observerContext = NULL;

void ApplyLine(char* line, AcquisitionConfig& config, ConfigurationPiece* piece) {
  char* cursor = line;
  const char* key = NextPiece(&cursor);
  piece->key = key;
  if (key == NULL) return;
  for (int32_t i = 0; i < kSettingCount; ++i) {
    const Setting& s = kSettings[i];
    if (std::strcmp(key, s.key) != 0) continue;
    piece->keyIndex = i;
    // A key alone at the very end of the file has no value to take.
    const char* value = NextPiece(&cursor);
    piece->value = value;
    if (value == NULL) return;
    config.*s.field = DecimalValue(value);
    piece->stored = config.*s.field;
    NKDbgPrintfW(s.echo, config.*s.field);
    return;
  }
}

}  // namespace

bool ReadConfiguration(AcquisitionConfig& config) {
  FILE* file = OpenDeviceFile(kConfigurationPath, "r");
  if (file == NULL) {
    NKDbgPrintfW(L"Cannot open configuration file \\FlashFX Disk\\Pelmok\\PelmokConfig.txt \r\n");
    return true;
  }
  NKDbgPrintfW(L"Opened Configuration File \n");
  char line[kLineBuffer];
  char text[kLineBuffer];  // the piece before splitting, for the observer
  ConfigurationPiece piece;
  piece.number = 0;
  while (std::fgets(line, sizeof line, file) != NULL) {
    ++piece.number;
    piece.text = text;
    piece.key = NULL;
    piece.keyIndex = -1;
    piece.value = NULL;
    piece.stored = 0;
    if (observer != NULL) std::strcpy(text, line);
    ApplyLine(line, config, &piece);
    if (observer != NULL) observer(&piece, observerContext);
  }
  std::fclose(file);
  return true;
}

void ObserveConfiguration(ConfigurationObserver callback, void* context) {
  observer = callback;
  observerContext = context;
}

const char* ConfigurationKey(int32_t index) {
  return index >= 0 && index < kSettingCount ? kSettings[index].key : NULL;
}
