// Repeated findings said once: findings of one kind (the same words, the same
// figures) found more than a few times become one statement with their count
// and the first few examples, made where the first was found; a kind found
// only a few times is said each time. A deployment of thousands of like gaps
// or a run of thousands of writes to shared files then reads in a few lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace datatools {

class LikeFindings {
 public:
  // Kinds found more often than this are summed up, with this many examples.
  static constexpr size_t kExamples = 3;

  // Adds a finding of `kind` at `example` (where it is, what it concerns).
  void Add(const std::string& kind, const std::string& example);
  size_t Size() const { return findings_.size(); }
  const std::string& Kind(size_t i) const { return KindOf(i).kind; }
  // How many findings share finding i's kind.
  uint64_t Count(size_t i) const { return KindOf(i).count; }
  // Whether finding i is said on its own: its kind is found at most kExamples times.
  bool Alone(size_t i) const { return Count(i) <= kExamples; }
  // Whether finding i is the first of a kind that is summed up: the place to say it.
  bool SumsUp(size_t i) const { return !Alone(i) && KindOf(i).first == i; }
  // The first examples of finding i's kind, joined by `separator`, with
  // "..." after them when there are more.
  std::string Examples(size_t i, const std::string& separator = ", ") const;

 private:
  struct KindTally {
    std::string kind;
    uint64_t count = 0;
    size_t first = 0;                   // the first finding of the kind
    std::vector<std::string> examples;  // the first kExamples
  };
  const KindTally& KindOf(size_t i) const { return kinds_[findings_[i]]; }
  std::map<std::string, size_t> index_;  // kind -> into kinds_
  std::vector<KindTally> kinds_;
  std::vector<size_t> findings_;  // each finding's kind, into kinds_
};

}  // namespace datatools
