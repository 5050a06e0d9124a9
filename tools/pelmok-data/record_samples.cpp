#include "tools/pelmok-data/record_samples.h"

#include <algorithm>

#include "tools/common/board_time.h"
#include "tools/formats/data_file.h"

namespace datatools {

bool ForEachRecordBlock(const Deployment& d, const Record& r,
                        const std::function<void(const std::vector<int32_t>& codes,
                                                 const std::vector<uint32_t>& words)>& f,
                        std::string* error, const std::function<bool()>& more) {
  const DeploymentFile& file = d.files[r.file];
  WordReader reader;
  if (!reader.Open(file.path, error)) return false;
  std::vector<uint32_t> words;
  std::vector<int32_t> codes;
  for (uint64_t at = 0; at < r.words; at += words.size()) {
    if (more && !more()) return true;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(WordReader::kBlockWords, r.words - at));
    if (!reader.Read(r.firstWord + at, n, &words) || words.empty()) {
      *error = reader.FailureText(file.path, file.bytes);
      return false;
    }
    codes.resize(words.size());
    for (size_t i = 0; i < words.size(); ++i) codes[i] = CodeOf(words[i]);
    f(codes, words);
  }
  return true;
}

int64_t StartSample(const Deployment& d, const Record& r) {
  return r.writeUtc * static_cast<int64_t>(d.settings.rate) - static_cast<int64_t>(r.words);
}

std::string RecordStem(const Deployment& d, const Record& r) {
  if (!r.HasTime()) return d.files[r.file].name + "-r" + std::to_string(r.index);
  const int64_t rate = d.settings.rate;
  const int64_t start = StartSample(d, r);
  return UtcBasicText(start / rate - (start % rate < 0));
}

std::string TimingText(const Deployment& d, const Record& r) {
  switch (r.source) {
    case TimeSource::kName:
      return "from its name";
    case TimeSource::kCadence: {
      const bool earlier = r.candidates.size() == 2 && r.candidates[0].utc == r.writeUtc;
      return std::string("repeated-hour name; the cadence chose the ") + (earlier ? "first" : "second") +
             " pass (" + LocalText(d.settings.zone, r.writeUtc) + ")";
    }
    case TimeSource::kAmbiguous: {
      std::string text = "repeated-hour name the cadence could not tell: written";
      for (size_t i = 0; i < r.candidates.size(); ++i)
        text += (i ? " or " : " ") + UtcText(r.candidates[i].utc);
      return text;
    }
    case TimeSource::kNone:
      break;
  }
  return "no time";
}

AudioProvenance ProvenanceOf(const Deployment& d, const Record& r) {
  AudioProvenance p;
  p.rateHz = d.settings.rate;
  p.startSample = r.HasTime() ? StartSample(d, r) : 0;
  // The offset in force at the first sample: a record can start before a clock change and be written after it.
  p.offsetMinutes = r.HasTime() ? d.settings.zone.OffsetAt(p.StartSecond()) : 0;
  p.sourceFile = d.files[r.file].name;
  p.sourceRecord = r.index;
  p.samples = r.words;
  p.timed = r.HasTime();
  p.writeUtc = r.writeUtc;
  p.timing = TimingText(d, r);
  const std::string flags = RecordFlagsText(r.flags);
  if (!flags.empty()) p.extra.push_back({"Pelmok|Flags", flags});
  if (!d.settings.zone.Rule().empty()) p.extra.push_back({"Pelmok|Time Zone", d.settings.zone.Rule()});
  return p;
}

}  // namespace datatools
