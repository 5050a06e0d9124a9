// One line on a terminal for work on records that runs longer than a
// second: "pelmok-data export: 12 of 40 records (30%), about 4.2 s left".
// Drawn on standard error, and only when it is a terminal, so what goes to
// a file or a pipe is the output alone; redrawn at most four times a second
// and wiped when the work ends.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>

namespace datatools {

class ProgressLine {
 public:
  ProgressLine(std::string what, size_t total)
      : what_(std::move(what)), total_(total), shown_(isatty(STDERR_FILENO) != 0) {
    next_ = start_ + std::chrono::seconds(1);
  }
  ~ProgressLine() { End(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // `done` of the total finished.
  void Done(size_t done) {
    if (!shown_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now < next_ || done == 0) return;
    next_ = now + std::chrono::milliseconds(250);
    const double wall = std::chrono::duration<double>(now - start_).count();
    std::fprintf(stderr, "\rpelmok-data %s: %zu of %zu records (%.0f%%), about %.1f s left\033[K",
                 what_.c_str(), done, total_,
                 100.0 * static_cast<double>(done) / static_cast<double>(total_),
                 wall * static_cast<double>(total_ - done) / static_cast<double>(done));
    drawn_ = true;
  }
  void End() {
    if (drawn_) std::fprintf(stderr, "\r\033[K");
    drawn_ = false;
  }

 private:
  std::string what_;
  size_t total_;
  bool shown_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point next_;
};

}  // namespace datatools
