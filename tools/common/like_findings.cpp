#include "tools/common/like_findings.h"

namespace datatools {

void LikeFindings::Add(const std::string& kind, const std::string& example) {
  const auto [at, added] = index_.try_emplace(kind, kinds_.size());
  if (added) kinds_.push_back({kind, 0, findings_.size(), {}});
  KindTally& tally = kinds_[at->second];
  ++tally.count;
  if (tally.examples.size() < kExamples) tally.examples.push_back(example);
  findings_.push_back(at->second);
}

std::string LikeFindings::Examples(size_t i, const std::string& separator) const {
  const KindTally& tally = KindOf(i);
  std::string text;
  for (const std::string& e : tally.examples) text += (text.empty() ? "" : separator) + e;
  return tally.count > tally.examples.size() ? text + separator + "..." : text;
}

}  // namespace datatools
