#include "tools/common/deployment.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "tools/common/device_configuration.h"

namespace datatools {
namespace {

// ---- Settings ------------------------------------------------------------

bool Contradicts(const char* flag, uint64_t given, const char* key, int32_t inFile,
                 const std::string& path, std::string* error) {
  if (inFile <= 0 || given == static_cast<uint64_t>(inFile)) return false;
  *error = std::string(flag) + " " + std::to_string(given) + " says otherwise than \"" + key +
           "\" " + std::to_string(inFile) + " in " + path + " (give one or the other)";
  return true;
}

// ---- Resolving repeated-hour names -----------------------------------------

// One record whose name stands for two UTC seconds: `a` in the first pass of
// the repeated hour (daylight time), `b` = a + the shift in the second.
struct Element {
  size_t record;
  double a, b;
  bool sameFileAsNext;  // the next element is the next record of the same file
};

constexpr int kNone = -1;  // the other side holds nothing yet
constexpr int kFar =
    -2;  // the other side's last is too far back to keep the cadence with anything to come

// Finds, for each element, the cheapest way (fewest breaks in the cadence)
// to put all elements into the two passes with it in the first pass and with
// it in the second. The writes in UTC order are the first pass's elements in
// name order, then the second pass's, between the fixed neighbours `before`
// and `after` (NaN: none).
class PassSplit {
 public:
  PassSplit(const std::vector<Element>& e, double cadence, double tolerance, double before,
            double after, double change)
      : e_(e), c_(cadence), tol_(tolerance), before_(before), after_(after), change_(change) {}

  // best[i][side] = fewest breaks of any split with element i on `side` (0: first pass).
  void Solve(std::vector<std::array<int, 2>>* best) {
    best->assign(e_.size(), {INT_MAX, INT_MAX});
    Run(NAN, best);
    // A split whose second pass starts within a cadence of the change may
    // keep the cadence across it; those are solved with that start fixed,
    // once for each second it may start in (the names' seconds: writes in
    // one second share it).
    for (size_t k = 0; k < e_.size(); ++k)
      if (e_[k].b - change_ <= c_ + tol_ && (k == 0 || e_[k].b != e_[k - 1].b)) Run(e_[k].b, best);
  }

 private:
  struct State {
    int side;                // of element i
    int other;               // last element of the other side, kNone or kFar
    int cost = INT_MAX / 2;  // breaks up to here
    int rest = INT_MAX / 2;  // breaks from here to the end
  };

  // Each element's states, found by (side, other) in constant time, so a
  // step costs its states and not their square: a slot per key, stamped with
  // the element it was last set for.
  class Steps {
   public:
    explicit Steps(size_t n)
        : states_(n), width_(n + 2), slot_(2 * width_), stamp_(2 * width_, SIZE_MAX) {}
    std::vector<State>& operator[](size_t i) { return states_[i]; }
    // Element i's state (side, other), made when it is not there yet.
    State& Find(size_t i, int side, int other) {
      const size_t key = Key(side, other);
      if (stamp_[key] != i) {
        stamp_[key] = i;
        slot_[key] = states_[i].size();
        states_[i].push_back(State{side, other});
      }
      return states_[i][slot_[key]];
    }
    // Element i's state (side, other), or null; after Restamp(i) once a
    // later element's states were found.
    const State* Look(size_t i, int side, int other) const {
      const size_t key = Key(side, other);
      return stamp_[key] == i ? &states_[i][slot_[key]] : nullptr;
    }
    void Restamp(size_t i) {
      for (size_t k = 0; k < states_[i].size(); ++k) {
        const size_t key = Key(states_[i][k].side, states_[i][k].other);
        stamp_[key] = i;
        slot_[key] = k;
      }
    }

   private:
    // `other` is kFar, kNone or an element.
    size_t Key(int side, int other) const {
      return static_cast<size_t>(side) * width_ + static_cast<size_t>(other - kFar);
    }
    std::vector<std::vector<State>> states_;
    size_t width_;
    std::vector<size_t> slot_, stamp_;
  };

  // A break counts once, however long: a gap may be writes lost or a run
  // restarted at any time, so how many writes a split would leave missing
  // says nothing about which split is true. Splits that break the cadence
  // equally often leave their records with both candidates. (Collapsing a
  // far-back side to kFar loses nothing then: whichever element it was, the
  // next write on that side breaks the cadence once.)
  int Break(double interval) const { return std::fabs(interval - c_) > tol_ ? 1 : 0; }
  double At(size_t i, int side) const { return side == 0 ? e_[i].a : e_[i].b; }
  int Start(double first) const { return std::isnan(before_) ? 0 : Break(first - before_); }
  int End(double last) const { return std::isnan(after_) ? 0 : Break(after_ - last); }
  int Collapse(int j, size_t i) const {
    return j >= 0 && e_[static_cast<size_t>(j)].a < e_[i].a - (c_ + tol_) ? kFar : j;
  }

  // Breaks at the ends of a complete split whose last element has state `s`.
  int FinalCost(const State& s, double first) const {
    const size_t last = e_.size() - 1;
    // Last of each pass: element `last`, the other side's, or none.
    const int lastFirst = s.side == 0 ? static_cast<int>(last) : s.other;
    const int lastSecond = s.side == 1 ? static_cast<int>(last) : s.other;
    int cost = 0;
    if (lastFirst == kNone) {
      cost += Start(e_[0].b);  // all in the second pass: element 0 starts the sequence
    } else if (lastSecond != kNone) {
      cost += std::isnan(first) || lastFirst == kFar
                  ? 1
                  : Break(first - e_[static_cast<size_t>(lastFirst)].a);
    }
    if (lastSecond == kNone) {
      cost += End(e_[last].a);
    } else {
      cost += lastSecond == kFar ? (std::isnan(after_) ? 0 : 1)
                                 : End(e_[static_cast<size_t>(lastSecond)].b);
    }
    return cost;
  }

  // `first`: the second pass starts with an element of that second b, exactly
  // (every element before it in the first pass); NaN: any start, a break
  // assumed at the change. The elements lie in name order, so those of a
  // smaller b are in the first pass and, by the last of that b, the second
  // pass has begun.
  void Run(double first, std::vector<std::array<int, 2>>* best) {
    const size_t n = e_.size();
    const bool fixed = !std::isnan(first);
    size_t begun = 0;  // the last element of the start's second
    for (size_t i = 0; i < n; ++i)
      if (fixed && e_[i].b == first) begun = i;
    Steps states(n);
    auto allowed = [&](size_t i, int side) { return !fixed || side == 0 || e_[i].b >= first; };
    // A split that is no such start: by `begun`, nothing in the second pass.
    auto dead = [&](size_t i, const State& s) {
      return fixed && i == begun && s.side == 0 && s.other == kNone;
    };
    // Moves from a state at i to i + 1: (side, other, added cost).
    auto moves = [&](size_t i, const State& s, auto&& f) {
      if (dead(i, s)) return;
      const size_t next = i + 1;
      for (int side = 0; side < 2; ++side) {
        if (!allowed(next, side)) continue;
        // Records of one file were written in order: first pass, then second.
        if (e_[i].sameFileAsNext && s.side == 1 && side == 0) continue;
        if (side == s.side) {
          f(side, Collapse(s.other, next), Break(At(next, side) - At(i, side)));
        } else {
          int cost;
          if (s.other == kNone) {
            cost = side == 0 ? Start(e_[next].a) : 0;
          } else if (s.other == kFar) {
            cost = 1;
          } else {
            cost = Break(At(next, side) - At(static_cast<size_t>(s.other), side));
          }
          f(side, Collapse(static_cast<int>(i), next), cost);
        }
      }
    };

    for (int side = 0; side < 2; ++side)
      if (allowed(0, side)) states.Find(0, side, kNone).cost = side == 0 ? Start(e_[0].a) : 0;
    for (size_t i = 0; i + 1 < n; ++i) {
      for (size_t k = 0; k < states[i].size(); ++k) {
        const State s = states[i][k];
        moves(i, s, [&](int side, int other, int cost) {
          State& t = states.Find(i + 1, side, other);
          t.cost = std::min(t.cost, s.cost + cost);
        });
      }
    }
    for (State& s : states[n - 1]) s.rest = dead(n - 1, s) ? INT_MAX / 2 : FinalCost(s, first);
    for (size_t i = n - 1; i-- > 0;) {
      states.Restamp(i + 1);
      for (State& s : states[i]) {
        moves(i, s, [&](int side, int other, int cost) {
          if (const State* t = states.Look(i + 1, side, other))
            s.rest = std::min(s.rest, cost + t->rest);
        });
      }
    }
    for (size_t i = 0; i < n; ++i)
      for (const State& s : states[i])
        (*best)[i][static_cast<size_t>(s.side)] =
            std::min((*best)[i][static_cast<size_t>(s.side)], s.cost + s.rest);
  }

  const std::vector<Element>& e_;
  double c_, tol_, before_, after_, change_;
};

// ---- Building ---------------------------------------------------------------

struct Prepared {
  std::string path, name;
  uint64_t bytes;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The median interval between neighbours, refined to the mean of the
// intervals within 1.5 s of it: names are whole seconds, so a cadence of 2.5 s
// shows as intervals of 2 and 3.
double MeasuredCadence(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  std::vector<double> intervals;
  for (size_t i = 1; i < times.size(); ++i) intervals.push_back(times[i] - times[i - 1]);
  if (intervals.empty()) return 0;
  const double median = Median(intervals);
  double sum = 0;
  size_t n = 0;
  for (double d : intervals) {
    if (std::fabs(d - median) <= 1.5) {
      sum += d;
      ++n;
    }
  }
  return n ? sum / n : median;
}

// Files: data file names in local-time order, then the rest as given.
void MakeFiles(const std::vector<Prepared>& inputs, Deployment* d) {
  std::vector<DeploymentFile> named, unnamed;
  for (const Prepared& p : inputs) {
    DeploymentFile f;
    f.path = p.path;
    f.name = p.name;
    f.bytes = p.bytes;
    f.tornBytes = static_cast<uint32_t>(p.bytes % 4);
    f.named = DataFileName::Parse(p.name, &f.local);
    (f.named ? named : unnamed).push_back(f);
  }
  std::stable_sort(named.begin(), named.end(),
                   [](const DeploymentFile& a, const DeploymentFile& b) {
                     return a.local.LocalSeconds() < b.local.LocalSeconds();
                   });
  d->files = named;
  d->files.insert(d->files.end(), unnamed.begin(), unnamed.end());
}

// Each file's records, in file order, with what its name allows.
std::vector<Record> MakeRecords(const Deployment& d) {
  const BoardZone& zone = d.settings.zone;
  const uint64_t length = d.settings.samplesPerRecord;
  std::vector<Record> records;
  for (size_t fi = 0; fi < d.files.size(); ++fi) {
    const DeploymentFile& f = d.files[fi];
    const uint64_t words = f.bytes / 4;
    const uint64_t count = length ? std::max<uint64_t>(1, (words + length - 1) / length) : 1;
    std::vector<Candidate> candidates;
    if (f.named) {
      for (int64_t utc : zone.UtcOf(f.local.LocalSeconds()))
        candidates.push_back(Candidate{utc, zone.OffsetAt(utc)});
    }
    for (uint64_t k = 0; k < count; ++k) {
      Record r;
      r.file = fi;
      r.index = static_cast<uint32_t>(k);
      r.firstWord = length ? k * length : 0;
      r.words = length ? std::min(length, words - r.firstWord) : words;
      r.candidates = candidates;
      if (!f.named) r.flags |= kNotDataName;
      if (f.named && candidates.empty()) r.flags |= kSkippedHour;
      if (k > 0) r.flags |= kAppended;
      if (count > 1) r.flags |= kSharedName;
      if (length && r.words < length) r.flags |= kShortRecord;
      if (k + 1 == count && f.tornBytes) r.flags |= kTornTail;
      if (!candidates.empty()) {
        r.source = candidates.size() == 1 ? TimeSource::kName : TimeSource::kAmbiguous;
        r.writeUtc = candidates[0].utc;
        r.offsetMinutes = candidates[0].offsetMinutes;
      }
      records.push_back(r);
    }
  }
  return records;
}

// The cadence: what the configuration implies, else measured between
// unambiguous writes (or between all names when too few are unambiguous).
Cadence FindCadence(const Deployment& d, const std::vector<Record>& records) {
  const DeploymentSettings& settings = d.settings;
  const uint64_t length = settings.samplesPerRecord;
  Cadence cadence;
  if (settings.rate && length && settings.recordsPerFile > 0) {
    cadence.seconds =
        static_cast<double>(settings.recordsPerFile) * static_cast<double>(length) / settings.rate;
    cadence.source = CadenceSource::kConfiguration;
  } else {
    std::vector<double> single, all;
    for (const Record& r : records) {
      if (r.source == TimeSource::kName) single.push_back(static_cast<double>(r.writeUtc));
      if (r.source != TimeSource::kNone)
        all.push_back(static_cast<double>(d.files[r.file].local.LocalSeconds()));
    }
    const std::vector<double>& used = single.size() >= 3 ? single : all;
    const double measured = MeasuredCadence(used);
    if (measured > 0 || used.size() >= 2) {
      cadence.seconds = measured;
      cadence.source = CadenceSource::kMeasured;
    }
  }
  if (cadence.source != CadenceSource::kNone) cadence.tolerance = CadenceTolerance(cadence.seconds);
  return cadence;
}

// The records of one change back to standard time: split between the two
// passes by the cadence, each taking the candidate the fewest breaks allow.
void ResolveChange(const std::vector<size_t>& members, int64_t change, const Cadence& cadence,
                   std::vector<Record>* records) {
  std::vector<Element> elements;
  double low = INFINITY, high = -INFINITY;
  for (size_t m = 0; m < members.size(); ++m) {
    const Record& r = (*records)[members[m]];
    const bool sameFile = m + 1 < members.size() && (*records)[members[m + 1]].file == r.file;
    elements.push_back(Element{members[m], static_cast<double>(r.candidates[0].utc),
                               static_cast<double>(r.candidates[1].utc), sameFile});
    low = std::min(low, elements.back().a);
    high = std::max(high, elements.back().b);
  }
  double before = NAN, after = NAN;
  for (const Record& r : *records) {
    if (r.source != TimeSource::kName) continue;
    const double t = static_cast<double>(r.writeUtc);
    if (t < low && (std::isnan(before) || t > before)) before = t;
    if (t > high && (std::isnan(after) || t < after)) after = t;
  }
  std::vector<std::array<int, 2>> best;
  PassSplit(elements, cadence.seconds, cadence.tolerance, before, after,
            static_cast<double>(change))
      .Solve(&best);
  for (size_t k = 0; k < elements.size(); ++k) {
    if (best[k][0] == best[k][1]) continue;  // the cadence cannot tell
    Record& r = (*records)[elements[k].record];
    const Candidate& chosen = r.candidates[best[k][0] < best[k][1] ? 0 : 1];
    r.source = TimeSource::kCadence;
    r.writeUtc = chosen.utc;
    r.offsetMinutes = chosen.offsetMinutes;
  }
}

// Repeated-hour names, one change at a time; what the cadence leaves
// ambiguous takes the candidate the user chose, if any.
void ResolveRepeatedHours(const Deployment& d, std::vector<Record>* records) {
  const BoardZone& zone = d.settings.zone;
  std::map<int64_t, std::vector<size_t>> byChange;  // the change's UTC second -> records
  for (size_t i = 0; i < records->size(); ++i) {
    const Record& r = (*records)[i];
    if (r.source != TimeSource::kAmbiguous) continue;
    const auto changes = zone.ChangesBetween(r.candidates[0].utc, r.candidates[1].utc + 1);
    byChange[changes.empty() ? r.candidates[1].utc : changes.front().utc].push_back(i);
  }
  if (d.cadence.source != CadenceSource::kNone && d.cadence.seconds > 0)
    for (const auto& [change, members] : byChange)
      ResolveChange(members, change, d.cadence, records);
  if (d.settings.assume == Assume::kNothing) return;
  for (Record& r : *records) {
    if (r.source != TimeSource::kAmbiguous) continue;
    const Candidate& chosen =
        d.settings.assume == Assume::kEarlier ? r.candidates.front() : r.candidates.back();
    r.source = TimeSource::kAssumed;
    r.writeUtc = chosen.utc;
    r.offsetMinutes = chosen.offsetMinutes;
  }
}

// Timed records in UTC order, a file's records keeping their order; each
// file's list of its records.
void PlaceRecords(std::vector<Record> records, Deployment* d) {
  std::stable_sort(records.begin(), records.end(), [](const Record& a, const Record& b) {
    if (a.HasTime() != b.HasTime()) return a.HasTime();
    if (!a.HasTime()) return false;
    return a.writeUtc < b.writeUtc;
  });
  d->records = std::move(records);
  for (size_t i = 0; i < d->records.size(); ++i) d->files[d->records[i].file].records.push_back(i);
  for (DeploymentFile& f : d->files)
    std::sort(f.records.begin(), f.records.end(),
              [&](size_t a, size_t b) { return d->records[a].index < d->records[b].index; });
}

// The gap between two sure writes that do not keep the cadence, given how
// many writes the run has made so far.
Gap GapBetween(const Deployment& d, size_t after, size_t before, int64_t runWrites) {
  const Cadence& cadence = d.cadence;
  const Record& p = d.records[after];
  const Record& q = d.records[before];
  Gap g;
  g.after = after;
  g.before = before;
  g.interval = static_cast<double>(q.writeUtc - p.writeUtc);
  const uint32_t rate = d.settings.rate;
  g.silence = rate ? g.interval - static_cast<double>(q.words) / rate : g.interval;
  const double steps = cadence.seconds > 0 ? std::round(g.interval / cadence.seconds) : 0;
  const int64_t filesPerRun = d.settings.filesPerRun;
  if (g.interval < cadence.seconds - cadence.tolerance) {
    g.kind = GapKind::kTooClose;
  } else if (steps >= 2 && std::fabs(g.interval - steps * cadence.seconds) <= cadence.tolerance &&
             // A run makes the configuration's count of writes and no more:
             // past it, the next write is a new run's.
             (filesPerRun <= 0 || runWrites + static_cast<int64_t>(steps) <= filesPerRun)) {
    g.kind = GapKind::kMissingWrites;
    g.missingWrites = static_cast<int64_t>(steps) - 1;
  } else {
    g.kind = GapKind::kRestart;
  }
  return g;
}

// Gaps between writes whose time is known for sure; the first and last
// sure record of each run.
std::vector<std::pair<size_t, size_t>> FindGaps(Deployment* d) {
  std::vector<size_t> sure;
  for (size_t i = 0; i < d->records.size(); ++i)
    if (d->records[i].Definite()) sure.push_back(i);
  std::vector<std::pair<size_t, size_t>> runBounds;
  size_t runStart = sure.empty() ? 0 : sure.front();
  int64_t runWrites = 1;  // writes of the run so far, missing ones counted
  for (size_t k = 1; k < sure.size() && d->cadence.source != CadenceSource::kNone; ++k) {
    const double interval =
        static_cast<double>(d->records[sure[k]].writeUtc - d->records[sure[k - 1]].writeUtc);
    // Reads that time out end a record early (a converter that stopped):
    // its write comes before the cadence's, with no break in the run.
    const bool early = (d->records[sure[k]].flags & kZeroFilled) && interval < d->cadence.seconds;
    if (early || std::fabs(interval - d->cadence.seconds) <= d->cadence.tolerance) {
      ++runWrites;
      continue;
    }
    const Gap g = GapBetween(*d, sure[k - 1], sure[k], runWrites);
    d->gaps.push_back(g);
    if (g.kind == GapKind::kMissingWrites) {
      runWrites += g.missingWrites + 1;
    } else {
      runBounds.push_back({runStart, sure[k - 1]});
      runStart = sure[k];
      runWrites = 1;
    }
  }
  if (!sure.empty()) runBounds.push_back({runStart, sure.back()});
  return runBounds;
}

void FindGapsAndRuns(Deployment* d) {
  const std::vector<std::pair<size_t, size_t>> runBounds = FindGaps(d);
  // Ambiguous records belong to the run they sort into.
  for (size_t r = 0; r < runBounds.size(); ++r) {
    Run run;
    run.first = r == 0 ? 0 : runBounds[r].first;
    const size_t end = r + 1 < runBounds.size() ? runBounds[r + 1].first : d->records.size();
    run.count = 0;
    for (size_t i = run.first; i < end && d->records[i].HasTime(); ++i) {
      d->records[i].run = d->runs.size();
      ++run.count;
    }
    d->runs.push_back(run);
  }
  for (const Gap& g : d->gaps) d->records[g.before].flags |= kAfterGap;
  const int64_t filesPerRun = d->settings.filesPerRun;
  for (Run& run : d->runs) {
    if (run.count == 0) continue;
    d->records[run.first].flags |= kRunStart;
    if (filesPerRun > 0) {
      int64_t writes = static_cast<int64_t>(run.count);  // a record is a write
      for (const Gap& g : d->gaps)
        if (g.kind == GapKind::kMissingWrites && g.before > run.first &&
            g.before < run.first + run.count)
          writes += g.missingWrites;
      run.stoppedEarly = writes < filesPerRun;
    }
  }
  for (Record& r : d->records) {
    if (!(r.flags & kAppended) || !r.HasTime()) continue;
    const DeploymentFile& f = d->files[r.file];
    const Record& first = d->records[f.records.front()];
    if (first.HasTime() && first.run != r.run) r.flags |= kEarlierRunFile;
  }
}

// Clock changes over the span, and records that straddle one.
void MarkClockChanges(Deployment* d) {
  const uint32_t rate = d->settings.rate;
  bool any = false;
  double from = 0, to = 0;
  for (const Record& r : d->records) {
    if (!r.HasTime()) continue;
    const double start = r.StartUtc(rate);
    if (!any || start < from) from = start;
    if (!any || r.writeUtc + 1 > to) to = static_cast<double>(r.writeUtc + 1);
    any = true;
  }
  if (any)
    d->changes = d->settings.zone.ChangesBetween(static_cast<int64_t>(std::floor(from)),
                                                 static_cast<int64_t>(to));
  for (Record& r : d->records) {
    if (!r.HasTime()) continue;
    for (const ClockChange& c : d->changes)
      if (r.StartUtc(rate) < static_cast<double>(c.utc) &&
          static_cast<double>(c.utc) <= static_cast<double>(r.writeUtc))
        r.flags |= kCrossesChange;
  }
}

// Board time to reference time, once the names are resolved in board time.
// Without the zone the names' times are no UTC the checks could correct.
void ApplyClockChecks(Deployment* d) {
  d->corrected = d->settings.zoneKnown && !d->settings.description.clockChecks.empty();
  if (!d->corrected) return;
  for (Record& r : d->records)
    if (r.HasTime()) r.correction = d->Correction(static_cast<double>(r.writeUtc));
}

void CountTotals(Deployment* d) {
  d->words = d->bytes = 0;
  d->tornFiles = d->sharedFiles = d->ambiguous = d->resolvedByCadence = d->assumed = d->untimed = 0;
  for (const DeploymentFile& f : d->files) {
    d->bytes += f.bytes;
    d->words += f.bytes / 4;
    d->tornFiles += f.tornBytes != 0;
    d->sharedFiles += f.records.size() > 1;
  }
  for (const Record& r : d->records) {
    d->ambiguous += r.source == TimeSource::kAmbiguous;
    d->resolvedByCadence += r.source == TimeSource::kCadence;
    d->assumed += r.source == TimeSource::kAssumed;
    d->untimed += r.source == TimeSource::kNone;
  }
}

// Whether a record's last words are zeros; null where no samples are read.
using ZeroTailProbe = std::function<bool(const DeploymentFile&, const Record&)>;

// The board's clock starts at 2000-01-01T00:00:00 UTC when its backup
// battery is lost: names of that year (or its eve, west of Greenwich).
bool EpochClockName(const DataFileName& n) {
  return n.year == 2000 || (n.year == 1999 && n.month == 12 && n.day == 31);
}

void Build(const std::vector<Prepared>& inputs, const DeploymentSettings& settings, Deployment* d,
           const ZeroTailProbe& zeroTail = nullptr) {
  *d = Deployment{};
  d->settings = settings;
  MakeFiles(inputs, d);
  std::vector<Record> records = MakeRecords(*d);
  for (Record& r : records) {
    const DeploymentFile& f = d->files[r.file];
    if (f.named && EpochClockName(f.local)) r.flags |= kEpochClock;
    if (zeroTail && zeroTail(f, r)) r.flags |= kZeroFilled;
  }
  d->cadence = FindCadence(*d, records);
  ResolveRepeatedHours(*d, &records);
  PlaceRecords(std::move(records), d);
  FindGapsAndRuns(d);
  MarkClockChanges(d);
  ApplyClockChecks(d);
  CountTotals(d);
}

}  // namespace

namespace {

bool SameChange(const hostlib::ZoneChange& a, const hostlib::ZoneChange& b) {
  return a.month == b.month && a.week == b.week && a.weekday == b.weekday && a.hour == b.hour &&
         a.minute == b.minute && a.second == b.second;
}

// The same offsets and changes, whatever the names.
bool SameSetting(const hostlib::TimeZoneSetting& a, const hostlib::TimeZoneSetting& b) {
  return a.bias == b.bias && a.standardBias == b.standardBias && a.daylightBias == b.daylightBias &&
         SameChange(a.standardStart, b.standardStart) &&
         SameChange(a.daylightStart, b.daylightStart);
}

// --time-zone, else the deployment file's, else TZ.
bool ResolveZone(const DeploymentFlags& flags, const DeploymentDescription& file, BoardZone* zone,
                 bool* known, std::string* error) {
  *known = true;
  if (file.timeZone) {
    BoardZone fromFile;
    if (!BoardZone::FromRule(*file.timeZone, &fromFile, error)) return false;
    *zone = fromFile;
  }
  if (flags.timeZone) {
    if (!BoardZone::FromRule(*flags.timeZone, zone, error)) {
      *error = "bad --time-zone: " + *error;
      return false;
    }
    BoardZone fromFile;
    if (file.timeZone && BoardZone::FromRule(*file.timeZone, &fromFile, error) &&
        !SameSetting(fromFile.Setting(), zone->Setting())) {
      *error = "--time-zone " + *flags.timeZone + " says otherwise than time_zone \"" +
               *file.timeZone + "\" in " + file.path + " (give one or the other)";
      return false;
    }
    return true;
  }
  if (file.timeZone) return true;
  // The host's own zone says nothing about the board's: without TZ the zone
  // stays unknown.
  if (std::getenv("TZ") == nullptr) {
    *known = false;
    return true;
  }
  if (!BoardZone::FromEnvironment(zone, error)) {
    *error = "time zone for the board: " + *error + " (give --time-zone ZONE)";
    return false;
  }
  return true;
}

// Clock checks in board time order; two at one board time say nothing of a rate.
bool SortClockChecks(DeploymentDescription* file, std::string* error) {
  std::vector<ClockCheck>& checks = file->clockChecks;
  std::stable_sort(checks.begin(), checks.end(),
                   [](const ClockCheck& a, const ClockCheck& b) { return a.board < b.board; });
  for (size_t k = 1; k < checks.size(); ++k) {
    if (checks[k].board - checks[k - 1].board >= 1 &&
        checks[k].reference - checks[k - 1].reference >= 1)
      continue;
    *error = file->path + ": clock checks at board " + UtcText(checks[k - 1].board, 3) + " and " +
             UtcText(checks[k].board, 3) +
             " are less than a second apart, or their reference times do not "
             "follow the board's";
    return false;
  }
  return true;
}

// --config, else the deployment file's configuration; both must name one file.
bool ResolveConfigPath(const DeploymentFlags& flags, const DeploymentDescription& file,
                       std::string* path, std::string* error) {
  *path = flags.configPath.empty() ? file.configuration : flags.configPath;
  if (flags.configPath.empty() || file.configuration.empty()) return true;
  struct stat a, b;
  const bool same = stat(flags.configPath.c_str(), &a) == 0 &&
                    stat(file.configuration.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
                    a.st_ino == b.st_ino;
  if (same) return true;
  *error = "--config " + flags.configPath + " says otherwise than configuration \"" +
           file.configuration + "\" in " + file.path + " (give one or the other)";
  return false;
}

}  // namespace

bool ResolveSettings(const DeploymentFlags& flags, DeploymentSettings* settings,
                     std::string* error) {
  DeploymentSettings s;
  s.description = flags.deployment;
  if (!ResolveZone(flags, s.description, &s.zone, &s.zoneKnown, error)) return false;
  if (!s.zoneKnown) s.zone = BoardZone(hostlib::TimeZoneSetting{}, "");
  s.assume = flags.assume;
  if (!SortClockChecks(&s.description, error)) return false;
  if (flags.rate) s.rate = *flags.rate;
  if (flags.samplesPerRecord) s.samplesPerRecord = *flags.samplesPerRecord;
  if (!ResolveConfigPath(flags, s.description, &s.configPath, error)) return false;
  if (!s.configPath.empty()) {
    if (!ReadConfigurationFile(s.configPath, &s.config, error)) return false;
    const AcquisitionConfig& c = s.config;
    if (flags.rate &&
        Contradicts("--rate", *flags.rate, "Sample rate", c.sampleRate, s.configPath, error))
      return false;
    if (flags.samplesPerRecord &&
        Contradicts("--samples-per-record", *flags.samplesPerRecord, "Number of samples per record",
                    c.samplesPerRecord, s.configPath, error))
      return false;
    if (!flags.rate && c.sampleRate > 0) s.rate = static_cast<uint32_t>(c.sampleRate);
    if (!flags.samplesPerRecord && c.samplesPerRecord > 0)
      s.samplesPerRecord = static_cast<uint64_t>(c.samplesPerRecord);
    if (c.recordsPerFile > 0) s.recordsPerFile = c.recordsPerFile;
    if (c.filesPerUsbWrite > 0) s.filesPerRun = c.filesPerUsbWrite;
  }
  *settings = s;
  return true;
}

const char* TimeSourceText(TimeSource source) {
  switch (source) {
    case TimeSource::kName: return "name";
    case TimeSource::kCadence: return "cadence";
    case TimeSource::kAmbiguous: return "ambiguous";
    case TimeSource::kAssumed: return "assumed";
    case TimeSource::kNone: break;
  }
  return "none";
}

std::string RecordFlagsText(uint32_t flags) {
  static const std::pair<uint32_t, const char*> kNames[] = {
      {kAppended, "appended"},
      {kSharedName, "shared-name"},
      {kEarlierRunFile, "earlier-run-file"},
      {kShortRecord, "short-record"},
      {kTornTail, "torn-tail"},
      {kSkippedHour, "skipped-hour"},
      {kNotDataName, "not-a-data-name"},
      {kRunStart, "run-start"},
      {kAfterGap, "after-gap"},
      {kCrossesChange, "crosses-clock-change"},
      {kZeroFilled, "zero-filled"},
      {kEpochClock, "epoch-clock"},
  };
  std::string text;
  for (const auto& [bit, name] : kNames) {
    if (!(flags & bit)) continue;
    if (!text.empty()) text += ",";
    text += name;
  }
  return text;
}

const char* CadenceSourceText(CadenceSource source) {
  switch (source) {
    case CadenceSource::kConfiguration: return "from the configuration";
    case CadenceSource::kMeasured: return "measured between writes";
    case CadenceSource::kNone: break;
  }
  return "not known";
}

double CadenceTolerance(double cadenceSeconds) { return 1.0 + 0.01 * cadenceSeconds; }

const char* GapKindText(GapKind kind) {
  switch (kind) {
    case GapKind::kMissingWrites: return "missing writes";
    case GapKind::kRestart: return "restart";
    case GapKind::kTooClose: break;
  }
  return "too close";
}

double Deployment::SpanSeconds() const {
  bool any = false;
  double first = 0, last = 0;
  for (const Record& r : records) {
    if (!r.HasTime()) continue;
    const double start = r.StartUtc(settings.rate);
    if (!any || start < first) first = start;
    if (!any || r.writeUtc > last) last = static_cast<double>(r.writeUtc);
    any = true;
  }
  return any ? last - first : 0;
}

double Deployment::RecordedSeconds() const {
  return settings.rate ? static_cast<double>(words) / settings.rate : 0;
}

std::string Deployment::TimeText(double t, int decimals) const {
  std::string text =
      decimals > 0 ? UtcText(t, decimals) : UtcText(static_cast<int64_t>(std::floor(t)));
  if (!UtcKnown()) text.pop_back();  // the Z: a local clock reading
  return text;
}

std::string Deployment::TimeBasicText(int64_t t) const {
  std::string text = UtcBasicText(t);
  if (!UtcKnown()) text.pop_back();
  return text;
}

const char* Deployment::UtcNotKnown() {
  return "UTC not known: the board's time zone was not given (give --time-zone ZONE, time_zone in "
         "deployment.toml, or TZ); times are the board's local clock";
}

namespace {

// `t` seconds before a record's write, as stated: see WriteText.
std::string RecordTimeText(const Deployment& d, const Record& r, double before, int decimals) {
  if (!r.HasTime()) return "-";
  if (r.Definite()) return d.TimeText(r.WriteTime() - before, decimals);
  const double local = static_cast<double>(d.files[r.file].local.LocalSeconds()) - before;
  std::string text = UtcText(local, decimals);
  text.pop_back();
  text += " (local; UTC";
  for (size_t i = 0; i < r.candidates.size(); ++i)
    text += (i ? " or " : " ") +
            d.TimeText(static_cast<double>(r.candidates[i].utc) +
                           d.Correction(static_cast<double>(r.candidates[i].utc)) - before,
                       decimals);
  return text + ")";
}

}  // namespace

double Deployment::Correction(double board) const {
  return corrected ? ClockCorrection(settings.description.clockChecks, board) : 0;
}

std::string Deployment::CandidateText(int64_t board) const {
  const double t = static_cast<double>(board);
  return TimeText(t + Correction(t), corrected ? 3 : 0);
}

double DriftPpm(const ClockCheck& a, const ClockCheck& b) {
  const double reference = b.reference - a.reference;
  return ((b.board - a.board) - reference) / reference * 1e6;
}

double ClockCorrection(const std::vector<ClockCheck>& checks, double board) {
  if (checks.empty()) return 0;
  if (checks.size() == 1) return checks[0].reference - checks[0].board;
  // The segment around `board`, or the nearest one.
  size_t k = 0;
  while (k + 2 < checks.size() && board > checks[k + 1].board) ++k;
  const ClockCheck& a = checks[k];
  const ClockCheck& b = checks[k + 1];
  const double at = (board - a.board) / (b.board - a.board);
  return (a.reference - a.board) + at * ((b.reference - b.board) - (a.reference - a.board));
}

std::string Deployment::WriteText(const Record& r) const {
  return RecordTimeText(*this, r, 0, corrected ? 3 : 0);
}

std::string Deployment::StartText(const Record& r, int decimals) const {
  const double length = settings.rate ? static_cast<double>(r.words) / settings.rate : 0;
  return RecordTimeText(*this, r, length, decimals);
}

bool ParsePick(const std::string& text, RecordSelection::Pick* pick, std::string* error) {
  const size_t hash = text.rfind('#');
  const std::string number = hash == std::string::npos ? "" : text.substr(hash + 1);
  if (hash == 0 || number.empty() || number.size() > 9 ||
      number.find_first_not_of("0123456789") != std::string::npos) {
    *error = "bad --record '" + text + "': give FILE#N, N the record in the file from 0";
    return false;
  }
  pick->file = text.substr(0, hash);
  pick->index = static_cast<uint32_t>(std::stoul(number));
  return true;
}

namespace {

bool SameFile(const std::string& a, const std::string& b) {
  struct stat x, y;
  return stat(a.c_str(), &x) == 0 && stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev &&
         x.st_ino == y.st_ino;
}

// The deployment's file that `path` names: the same file, or for a bare name
// the file of that name.
bool FindFile(const Deployment& d, const std::string& path, size_t* index) {
  const bool bare = path.find('/') == std::string::npos;
  const std::string name = BaseName(path);
  for (size_t i = 0; i < d.files.size(); ++i) {
    const DeploymentFile& f = d.files[i];
    if (f.name != name) continue;
    if (bare || f.path == path || SameFile(f.path, path)) {
      *index = i;
      return true;
    }
  }
  return false;
}

// Whether any time the record may have puts its samples into [from, to).
bool InSpan(const Deployment& d, const Record& r, const RecordSelection& s) {
  if (!s.from && !s.to) return true;
  if (!r.HasTime()) return false;
  std::vector<int64_t> writes = {r.writeUtc};
  if (r.source == TimeSource::kAmbiguous)
    for (const Candidate& c : r.candidates) writes.push_back(c.utc);
  const uint32_t rate = d.settings.rate;
  return std::any_of(writes.begin(), writes.end(), [&](int64_t w) {
    // Each time is corrected at its own board time: the candidates of a name
    // lie an hour apart, where the clock checks may correct them differently.
    const double end = static_cast<double>(w) + d.Correction(static_cast<double>(w));
    const double start = rate ? end - static_cast<double>(r.words) / rate : end;
    return (!s.from || end > *s.from) && (!s.to || start < *s.to);
  });
}

// Which records the selection keeps; false with a reason for a name or pick
// that matches nothing.
bool KeptRecords(const Deployment& all, const RecordSelection& s, std::vector<bool>* keep,
                 std::string* error) {
  const bool named = !s.files.empty() || !s.picks.empty();
  keep->assign(all.records.size(), !named);
  for (const std::string& path : s.files) {
    size_t f = 0;
    if (!FindFile(all, path, &f)) {
      *error = path + ": not a data file of the deployment";
      return false;
    }
    for (size_t i : all.files[f].records) (*keep)[i] = true;
  }
  for (const RecordSelection::Pick& p : s.picks) {
    size_t f = 0;
    if (!FindFile(all, p.file, &f) || p.index >= all.files[f].records.size()) {
      *error = p.file + "#" + std::to_string(p.index) +
               ": no such record in the deployment (records " + "count from 0 in their file)";
      return false;
    }
    (*keep)[all.files[f].records[p.index]] = true;
  }
  for (size_t i = 0; i < all.records.size(); ++i)
    if ((*keep)[i] && !InSpan(all, all.records[i], s)) (*keep)[i] = false;
  return true;
}

}  // namespace

bool SelectRecords(const Deployment& all, const RecordSelection& selection, Deployment* selected,
                   std::string* error) {
  std::vector<bool> keep;
  if (!KeptRecords(all, selection, &keep, error)) return false;
  Deployment d;
  d.settings = all.settings;
  d.cadence = all.cadence;
  // The odd entries of the folders given are the user's business; of a file's folder, not.
  if (selection.files.empty() && selection.picks.empty()) d.skipped = all.skipped;
  d.corrected = all.corrected;
  std::vector<size_t> fileAt(all.files.size(), SIZE_MAX), recordAt(all.records.size(), SIZE_MAX);
  for (size_t i = 0; i < all.records.size(); ++i) {
    if (!keep[i]) continue;
    Record r = all.records[i];
    if (fileAt[r.file] == SIZE_MAX) {
      fileAt[r.file] = d.files.size();
      d.files.push_back(all.files[r.file]);
      d.files.back().records.clear();
    }
    r.file = fileAt[r.file];
    recordAt[i] = d.records.size();
    d.files[r.file].records.push_back(d.records.size());
    d.records.push_back(r);
  }
  for (const Gap& g : all.gaps) {
    if (recordAt[g.after] == SIZE_MAX || recordAt[g.before] == SIZE_MAX) continue;
    Gap kept = g;
    kept.after = recordAt[g.after];
    kept.before = recordAt[g.before];
    d.gaps.push_back(kept);
  }
  std::vector<size_t> runAt(all.runs.size(), SIZE_MAX);
  for (Record& r : d.records) {
    if (!r.HasTime() || r.run >= all.runs.size()) continue;
    if (runAt[r.run] == SIZE_MAX) {
      runAt[r.run] = d.runs.size();
      Run run = all.runs[r.run];
      run.first = static_cast<size_t>(&r - d.records.data());
      run.count = 0;
      d.runs.push_back(run);
    }
    r.run = runAt[r.run];
    ++d.runs[r.run].count;
  }
  double first = INFINITY, last = -INFINITY;
  for (const Record& r : d.records) {
    if (!r.HasTime()) continue;
    first = std::min(first, r.StartUtc(d.settings.rate));
    last = std::max(last, r.WriteTime());
  }
  for (const ClockChange& c : all.changes)
    if (static_cast<double>(c.utc) > first && static_cast<double>(c.utc) <= last + 1)
      d.changes.push_back(c);
  CountTotals(&d);
  *selected = std::move(d);
  return true;
}

namespace {

// The last kZeroRunMinimum words of the record, read from its file: zero-filled or not.
bool EndsInZeros(const DeploymentFile& f, const Record& r) {
  if (r.words < kZeroRunMinimum) return false;
  WordReader reader;
  std::vector<uint32_t> words;
  std::string ignored;
  if (!reader.Open(f.path, &ignored) ||
      !reader.Read(r.firstWord + r.words - kZeroRunMinimum, kZeroRunMinimum, &words) ||
      words.size() != kZeroRunMinimum)
    return false;
  return std::all_of(words.begin(), words.end(), [](uint32_t w) { return w == 0; });
}

}  // namespace

bool LoadDeployment(const std::vector<std::string>& paths, const DeploymentSettings& settings,
                    Deployment* deployment, std::string* error) {
  std::vector<Prepared> inputs;
  std::vector<SkippedEntry> skipped;
  std::set<std::pair<uint64_t, uint64_t>> seen;  // device, inode
  const auto add = [&](const std::string& path, uint64_t bytes, uint64_t device, uint64_t inode) {
    if (seen.insert({device, inode}).second)
      inputs.push_back(Prepared{path, BaseName(path), bytes});
  };
  for (const std::string& path : paths) {
    struct stat st;
    if (IsFolder(path)) {
      // A folder given twice ("DATA ./DATA") is listed once.
      if (stat(path.c_str(), &st) == 0 && !seen.insert({st.st_dev, st.st_ino}).second) continue;
      std::vector<FolderEntry> entries;
      if (!ListDataFolder(path, &entries, &skipped, error)) return false;
      for (const FolderEntry& e : entries) add(e.path, e.bytes, e.device, e.inode);
      continue;
    }
    if (stat(path.c_str(), &st) != 0) {
      *error = path + ": " + std::strerror(errno);
      return false;
    }
    if (!S_ISREG(st.st_mode)) {
      *error = path + ": not a data file or folder";
      return false;
    }
    add(path, static_cast<uint64_t>(st.st_size), st.st_dev, st.st_ino);
  }
  Build(inputs, settings, deployment, EndsInZeros);
  deployment->skipped = skipped;
  return true;
}

void BuildDeployment(const std::vector<NamedSize>& files, const DeploymentSettings& settings,
                     Deployment* deployment) {
  std::vector<Prepared> inputs;
  inputs.reserve(files.size());
  for (const NamedSize& f : files) inputs.push_back(Prepared{f.name, f.name, f.bytes});
  Build(inputs, settings, deployment);
}

namespace {

// The mean interval between a run's writes, from its first sure write to its
// last, writes missing between them counted; nothing for a run whose reads
// timed out or that has fewer than three writes.
std::optional<ConverterClock> RunWrites(const Deployment& d, size_t index) {
  const Run& run = d.runs[index];
  std::optional<size_t> first, last;
  for (size_t i = run.first; i < run.first + run.count; ++i) {
    if (d.records[i].flags & kZeroFilled) return std::nullopt;
    if (!d.records[i].Definite()) continue;
    if (!first) first = i;
    last = i;
  }
  if (!first) return std::nullopt;
  ConverterClock c;
  c.run = index;
  c.writes = static_cast<int64_t>(*last - *first + 1);
  for (const Gap& g : d.gaps)
    if (g.kind == GapKind::kMissingWrites && g.before > *first && g.before <= *last)
      c.writes += g.missingWrites;
  if (c.writes < 3) return std::nullopt;
  const double intervals = static_cast<double>(c.writes - 1);
  c.meanInterval = (d.records[*last].WriteTime() - d.records[*first].WriteTime()) / intervals;
  c.error = 1.0 / intervals;
  return c;
}

}  // namespace

std::vector<ConverterClock> FindConverterClocks(const Deployment& d) {
  std::vector<ConverterClock> found;
  if (d.cadence.source != CadenceSource::kConfiguration) return found;
  const double frames = static_cast<double>(d.settings.recordsPerFile) *
                        static_cast<double>(d.settings.samplesPerRecord);
  for (size_t k = 0; k < d.runs.size(); ++k) {
    std::optional<ConverterClock> c = RunWrites(d, k);
    if (!c || std::fabs(c->meanInterval - d.cadence.seconds) <= c->error) continue;
    c->rate = frames / c->meanInterval;
    c->ppm = (c->rate / d.settings.rate - 1) * 1e6;
    found.push_back(*c);
  }
  return found;
}

std::string ConverterClockText(const Deployment& d, const ConverterClock& c) {
  const DeploymentSettings& s = d.settings;
  const Run& run = d.runs[c.run];
  const double records = static_cast<double>(s.recordsPerFile);
  char text[400];
  std::snprintf(text, sizeof text,
                "the run from %s: %" PRId64
                " writes %.3f s apart on average, not the configuration's %.3f s (names to the "
                "second allow %.3f s): records take %.3f s, not %.3f s: the converter's clock "
                "makes about %.0f Hz, not %u Hz (%+.0f ppm)%s",
                d.files[d.records[run.first].file].name.c_str(), c.writes, c.meanInterval,
                d.cadence.seconds, c.error, c.meanInterval / records, d.cadence.seconds / records,
                c.rate, s.rate, c.ppm,
                d.Corrected() ? "" : " (no clock checks: a board clock as far off looks the same)");
  return text;
}

}  // namespace datatools
