#include "datafiles/data_files.h"

#include <cstdio>
#include <cstring>

#include "datafiles/local_time.h"
#include "platform/device.h"
#include "platform/format.h"
#include "platform/kernel.h"

namespace {

const char* DirectoryOf(DataDestination destination) {
  return destination == StorageCard ? "\\Storage Card\\Pelmok\\Data\\"
                                    : "\\Hard Disk\\Pelmok\\Data\\";
}

// Paths are narrow; the console is wide: the kernel's "%s" takes a wide
// string.
struct WidePath {
  explicit WidePath(const char* path) {
    int i = 0;
    for (; path[i] != '\0' && i < kDataPathBuffer - 1; ++i)
      text[i] = static_cast<wchar_t>(static_cast<unsigned char>(path[i]));
    text[i] = L'\0';
  }
  wchar_t text[kDataPathBuffer];
};

// Size of the file at `path`, or -1.
long FileSize(const char* path) {
  FILE* f = OpenDeviceFile(path, "rb");
  if (f == NULL) return -1;
  long size = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
  std::fclose(f);
  return size;
}

// A full volume often shows only when the buffered data is flushed or the
// file closed. A record that fwrite took whole and fflush handed to the file
// system is stored, whatever the close says after it. Otherwise the words
// counted are the ones the file actually grew by: measured by reopening it
// after the close, or through the open stream after a good flush when a
// failing volume refuses the reopen; with neither at hand nothing is claimed.
// The file is then cut back to exactly the words counted, since a volume that
// filled part-way leaves part of a word, and the next record appended to the
// file would otherwise be out of step by those bytes.
int32_t AppendRecord(DataDestination destination, const uint32_t* record, int32_t count) {
  char path[kDataPathBuffer];
  MakeDataFileName(path, destination);

  // A write cut short by a power failure can leave 1 to 3 bytes of a word at
  // the end; a later write in the same second of the clock (a clock reset
  // after the failure gives the same names) would put every word behind them
  // out of step. Those bytes are no sample: the file is cut back to its last
  // whole word first, before the file is opened to append, as the board's file
  // API cannot cut a file the C runtime holds open.
  const long existing = FileSize(path);
  if (existing > 0 && existing % 4 != 0) {
    const long whole = existing - existing % 4;
    if (!TruncateDeviceFile(path, whole)) {
      NKDbgPrintfW(L"Cannot cut the torn word at the end of %s: record not written\n",
                   WidePath(path).text);
      return 0;
    }
    NKDbgPrintfW(L"Data file %s ended in %d bytes of a torn word: cut to %d bytes\n",
                 WidePath(path).text, static_cast<int>(existing % 4), static_cast<int>(whole));
  }

  FILE* file = OpenDeviceFile(path, "ab");
  if (file == NULL) {
    NKDbgPrintfW(L"Cannot open data file %s: record not written\n", WidePath(path).text);
    return 0;
  }
  // Unbuffered, the record goes to the file system in one write: a failing
  // volume takes a prefix of it, which the size afterwards shows, or nothing;
  // never a piece that stdio still holds when a later operation fails.
  std::setvbuf(file, NULL, _IONBF, 0);
  long before = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) before = std::ftell(file);

  const size_t asked = count > 0 ? static_cast<size_t>(count) : 0;
  const size_t written = asked > 0 ? std::fwrite(record, sizeof(uint32_t), asked, file) : 0;
  const bool flushed = std::fflush(file) == 0;
  const bool whole = written == asked && flushed;
  long flushedSize = -1;
  if (!whole && flushed && std::fseek(file, 0, SEEK_END) == 0) flushedSize = std::ftell(file);
  const bool closed = std::fclose(file) == 0;

  int32_t words = static_cast<int32_t>(written);
  if (!whole) {
    long after = FileSize(path);
    if (after < 0) after = flushedSize;
    const long grown = before >= 0 && after >= before ? (after - before) / 4 : 0;
    if (grown < words) words = static_cast<int32_t>(grown);
    if (before >= 0 && after > before + 4L * words) TruncateDeviceFile(path, before + 4L * words);
  }
  if (!whole || !closed)
    NKDbgPrintfW(L"Write to %s failed: %d of %d samples stored\n", WidePath(path).text, words,
                 count);
  NKDbgPrintfW(L"Wrote %d samples to flash \n", words);
  return words;
}

}  // namespace

// The clock and zone come from the kernel as the board keeps them; see
// local_time.h for what a clock or zone beyond the conversion gives (a name
// always, "0-0-0-0-0" at worst). In the repeated hour of a change back to
// standard time two writes an hour apart get one name and so one file.
void MakeDataFileName(char* path, DataDestination destination) {
  SYSTEMTIME utc;
  GetSystemTime(&utc);
  TIME_ZONE_INFORMATION zone;
  std::memset(&zone, 0, sizeof zone);
  if (GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) std::memset(&zone, 0, sizeof zone);
  const LocalTimeFields local = LocalTimeOf(utc, zone);
  FormatText(path, kDataPathBuffer, "%s%d-%d-%d-%d-%d", DirectoryOf(destination),
             local.yearsSince1900, local.dayOfYear, local.hour, local.minute, local.second);
}

int32_t WriteRecord(const uint32_t* record, int32_t count) {
  return AppendRecord(HardDisk, record, count);
}

int32_t WriteRecordToStorageCard(const uint32_t* record, int32_t count) {
  return AppendRecord(StorageCard, record, count);
}
