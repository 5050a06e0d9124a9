// Every file a host tool writes goes through one mechanism. The bytes go to a
// temporary file beside the destination, which takes the destination's name
// only once it is complete and on the disk: a tool that fails part-way (a
// full volume, an unreadable input) or is killed leaves nothing half-written.
// The temporary file has no name at all where the file system allows it
// (Linux O_TMPFILE), so not even SIGKILL leaves it behind; where it must be
// named, the name is removed on SIGINT, SIGTERM, SIGHUP and SIGPIPE. The first
// failed write ends the output: later writes fail at once without touching
// the disk, so a writer that checks Failed() stops there. What may stand
// where the output goes is settled before anything is written:
//
// - an existing file is replaced only with `force`;
// - an input of the same command (the same file by device and inode, so a
//   hard or symbolic link is caught), or a file named as the board names its
//   data files, never, even with `force`;
// - a folder, FIFO, device or socket is refused, except that an output that
//   may stream (the register trace) is written in place to a FIFO, pipe or
//   character device, where a closed reader shows as a failed write, not as
//   SIGPIPE.
//
// Errors are one line naming the path.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace datatools {

struct OutputPolicy {
  bool force = false;               // an existing file (not an input) may be replaced
  std::vector<std::string> inputs;  // files or folders the command reads
  bool stream = false;              // a FIFO, pipe or character device is written in place
};

class ScratchName;

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // an output not committed is discarded
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Checks what stands at `path` against the policy and opens the file the
  // bytes go to. False with "PATH: reason" in *error; nothing is created then.
  bool Open(const std::string& path, const OutputPolicy& policy, std::string* error);
  // The same checks as Open, creating nothing: for a command that writes
  // several outputs and checks them all before the first.
  static bool Check(const std::string& path, const OutputPolicy& policy, std::string* error);

  // A stdio stream on the output (the temporary file, or the stream written
  // in place). Its first failed write is kept for Commit's message.
  FILE* Stream() const { return stream_; }
  bool Write(const void* data, size_t size);
  // For a library that seeks as it writes (libsndfile's virtual I/O): writes
  // unbuffered at the descriptor's offset, a failure kept for Commit as the
  // stream's are; the descriptor is there to seek and measure. A library
  // given the bare descriptor could fail unseen: libFLAC does. Use either
  // this or the stream, not both.
  ssize_t RawWrite(const void* data, size_t size);
  int Descriptor() const { return fd_; }
  // A write has failed; every later one fails at once.
  bool Failed() const { return writeError_ != 0; }
  // errno of what made Open or Commit fail (EEXIST: the destination exists,
  // or appeared while the output was written).
  int Error() const { return error_; }
  // Bounds the bytes the output may take: a write past them fails as a full
  // volume's would (ENOSPC), and LimitReached says that is why.
  void SetLimit(uint64_t bytes) { limit_ = bytes; }
  bool LimitReached() const { return limitReached_; }

  // Where an output's bytes end up, as Open settles it.
  struct Destination {
    std::string path;       // a link's target
    bool replaces = false;  // an existing file, with force
    bool stream = false;    // a FIFO or device, written in place
  };

  // Flushes, syncs and renames the temporary file into place. False with
  // "PATH: reason (nothing written)" when any write or the rename failed; the
  // temporary file is then gone and an existing destination is as it was.
  // For a stream written in place, false when any part failed to go out.
  bool Commit(std::string* error);
  // Commit's first and slow part alone: the bytes flushed and synced to the
  // disk, the file not yet named. For threads whose outputs must be named in
  // order: each syncs its own first, so none waits there for another's disk.
  // Commit then reports what failed here.
  void Sync();

  const std::string& Path() const { return path_; }
  bool Streaming() const { return streaming_; }
  // For a caller's own failure message: "nothing written to PATH", or
  // "PATH left as it was" when it existed.
  std::string NotWritten() const;

 private:
  static ssize_t CookieWrite(void* self, const char* data, size_t size) {
    return static_cast<OutputFile*>(self)->RawWrite(data, size);
  }
  void Discard();
  bool OpenStream(std::string* error);
  bool OpenTemporary(std::string* error);
  int Place();
  bool Fail(int code, const std::string& text, std::string* error);

  std::string path_;                      // as the caller named it
  std::string destination_;               // where the rename goes: a link's target
  std::string temporary_;                 // the temporary file's name; empty when it has none
  std::unique_ptr<ScratchName> scratch_;  // that name, removed on a signal
  FILE* stream_ = nullptr;
  int fd_ = -1;
  int writeError_ = 0;  // errno of the first failed write
  int error_ = 0;
  uint64_t limit_ = UINT64_MAX;
  uint64_t written_ = 0;
  bool limitReached_ = false;
  bool replaces_ = false;
  bool force_ = false;
  bool streaming_ = false;
  bool synced_ = false;
  int syncError_ = 0;  // errno of what Sync found, for Commit
};

// For a test: temporaries get names even where O_TMPFILE would serve, as on
// a file system without it.
void NameEveryTemporary(bool named);

// A path removed (a file, or an empty folder) if the program is ended by
// SIGINT, SIGTERM, SIGHUP or SIGPIPE while the guard lives: a scratch file or
// folder with a name. Later guards are removed first. The signal then ends
// the program as it would have.
class ScratchName {
 public:
  explicit ScratchName(const std::string& path);
  ~ScratchName();
  ScratchName(const ScratchName&) = delete;
  ScratchName& operator=(const ScratchName&) = delete;

 private:
  int slot_;
};

// An output whose name ends in an extension that says another format than
// `format` ("wav", "flac", "csv", "png", "html"), such as "a.wav" for FLAC,
// is an error; a name with no known extension is not.
bool CheckOutputExtension(const std::string& path, const std::string& format, std::string* error);

}  // namespace datatools
