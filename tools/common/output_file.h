// Every file a host tool writes goes through one mechanism. The bytes go to a
// temporary file beside the destination, which takes the destination's name
// only once it is complete and on the disk: a tool that fails part-way (a
// full volume, an unreadable input) leaves nothing half-written. What may
// stand where the output goes is settled before anything is written:
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

#include <cstdio>
#include <string>
#include <vector>

namespace datatools {

struct OutputPolicy {
  bool force = false;               // an existing file (not an input) may be replaced
  std::vector<std::string> inputs;  // files or folders the command reads
  bool stream = false;              // a FIFO, pipe or character device is written in place
};

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // an output not committed is discarded
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Checks what stands at `path` against the policy and opens the file the
  // bytes go to. False with "PATH: reason" in *error; nothing is created then.
  bool Open(const std::string& path, const OutputPolicy& policy, std::string* error);

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

  // Flushes, syncs and renames the temporary file into place. False with
  // "PATH: reason (nothing written)" when any write or the rename failed; the
  // temporary file is then gone and an existing destination is as it was.
  // For a stream written in place, false when any part failed to go out.
  bool Commit(std::string* error);

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

  std::string path_;         // as the caller named it
  std::string destination_;  // where the rename goes: a link's target
  std::string temporary_;
  FILE* stream_ = nullptr;
  int fd_ = -1;
  int writeError_ = 0;  // errno of the first failed write
  bool replaces_ = false;
  bool force_ = false;
  bool streaming_ = false;
};

// An output whose name ends in an extension that says another format than
// `format` ("wav", "flac", "csv", "png", "html"), such as "a.wav" for FLAC,
// is an error; a name with no known extension is not.
bool CheckOutputExtension(const std::string& path, const std::string& format, std::string* error);

}  // namespace datatools
