#include "tools/pelmok-data/record_samples.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/common/board_time.h"
#include "tools/formats/data_file.h"

namespace datatools {
namespace {

std::string Printf3(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%+.3f", v);
  return text;
}

// The board clock's drift over the checks around the record's write.
std::string DriftText(const Deployment& d, const Record& r) {
  const std::vector<ClockCheck>& checks = d.settings.description.clockChecks;
  if (checks.size() < 2) return "not known (one clock check: a constant offset)";
  size_t k = 0;
  while (k + 2 < checks.size() && static_cast<double>(r.writeUtc) > checks[k + 1].board) ++k;
  char text[48];
  std::snprintf(text, sizeof text, "%+.2f ppm", DriftPpm(checks[k], checks[k + 1]));
  return text;
}

}  // namespace

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

bool UtcOf(const Deployment& d, const Record& r) { return r.Definite() && d.UtcKnown(); }

int64_t StartSample(const Deployment& d, const Record& r) {
  const int64_t rate = d.settings.rate;
  const int64_t words = static_cast<int64_t>(r.words);
  // A name the cadence could not place keeps its local time.
  if (!r.Definite()) return d.files[r.file].local.LocalSeconds() * rate - words;
  return r.writeUtc * rate + std::llround(r.correction * static_cast<double>(rate)) - words;
}

std::string RecordStem(const Deployment& d, const Record& r) {
  if (!r.HasTime()) return d.files[r.file].name + "-r" + std::to_string(r.index);
  const int64_t rate = d.settings.rate;
  const int64_t start = StartSample(d, r);
  const int64_t second = start / rate - (start % rate < 0);
  if (UtcOf(d, r)) return UtcBasicText(second);
  // The local clock, no zone: "20261025T025958", and "-ambiguous" for a name
  // that stands for two UTC times.
  return UtcBasicText(second).substr(0, 15) + (r.Definite() ? "" : "-ambiguous");
}

std::string TimingText(const Deployment& d, const Record& r) {
  if (r.HasTime() && !d.UtcKnown())
    return std::string("from its name; ") + Deployment::UtcNotKnown();
  switch (r.source) {
    case TimeSource::kName: return "from its name";
    case TimeSource::kCadence:
    case TimeSource::kAssumed: {
      const bool earlier = r.candidates.size() == 2 && r.candidates[0].utc == r.writeUtc;
      return std::string("repeated-hour name; ") +
             (r.source == TimeSource::kCadence ? "the cadence chose" : "--assume took") + " the " +
             (earlier ? "first" : "second") + " pass (" + LocalText(d.settings.zone, r.writeUtc) +
             ")";
    }
    case TimeSource::kAmbiguous: {
      std::string text = "repeated-hour name the cadence could not tell: written";
      for (size_t i = 0; i < r.candidates.size(); ++i)
        text += (i ? " or " : " ") + d.CandidateText(r.candidates[i].utc);
      return text + "; UTC not known (--assume earlier|later takes one)";
    }
    case TimeSource::kNone: break;
  }
  return "no time";
}

AudioProvenance ProvenanceOf(const Deployment& d, const Record& r) {
  AudioProvenance p;
  p.rateHz = d.settings.rate;
  p.startSample = r.HasTime() ? StartSample(d, r) : 0;
  p.utcKnown = UtcOf(d, r);
  // The offset in force at the first sample: a record can start before a clock change and be
  // written after it.
  p.offsetMinutes = p.utcKnown ? d.settings.zone.OffsetAt(p.StartSecond()) : 0;
  p.sourceFile = d.files[r.file].name;
  p.sourceRecord = r.index;
  p.samples = r.words;
  p.timed = r.HasTime();
  p.writeUtc = r.WriteTime();
  p.timing = TimingText(d, r);
  const std::string flags = RecordFlagsText(r.flags);
  if (!flags.empty()) p.extra.push_back({"Pelmok|Flags", flags});
  if (r.source == TimeSource::kAmbiguous) {
    const double length = static_cast<double>(r.words) / p.rateHz;
    std::string starts;
    for (const Candidate& c : r.candidates)
      starts +=
          (starts.empty() ? "" : " or ") +
          d.TimeText(static_cast<double>(c.utc) + d.Correction(static_cast<double>(c.utc)) - length,
                     6);
    p.extra.push_back({"Pelmok|Start UTC Candidates", starts});
  }
  if (p.utcKnown && d.Corrected()) {
    p.extra.push_back({"Pelmok|Board Write UTC", UtcText(r.writeUtc)});
    p.extra.push_back({"Pelmok|Clock Correction", Printf3(r.correction) + " s"});
    p.extra.push_back({"Pelmok|Clock Drift", DriftText(d, r)});
  }
  p.extra.push_back({"Pelmok|Time Zone", d.UtcKnown() ? d.settings.zone.Rule() : "not known"});
  return p;
}

}  // namespace datatools
