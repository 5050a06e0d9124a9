// The board's clock as the host tools read it: its time-zone setting (the one
// rule a Windows CE device holds) and the board's own local-time conversion
// (datafiles/local_time), run forward to name a write and backward to turn a
// data file's name into the UTC instants that give it. Every host tool turns
// names into times here and nowhere else.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "datafiles/local_time.h"
#include "sim/board_clock.h"

namespace datatools {

// An instant where the offset in force changes, within a span asked about.
struct ClockChange {
  int64_t utc = 0;             // the first second under the new offset
  int32_t offsetBefore = 0;    // minutes east of UTC (+120 for CEST)
  int32_t offsetAfter = 0;
};

class BoardZone {
 public:
  BoardZone();  // UTC0
  explicit BoardZone(const sim::TimeZoneSetting& setting, const std::string& rule = "");

  // The same syntax, defaults and refusals as pelmok-daq --time-zone: a POSIX
  // rule such as "CET-1CEST,M3.5.0,M10.5.0/3"; without one, the TZ variable
  // (a rule, or a zone name by its zoneinfo file's rule), else the host's own
  // zone. False with a one-line reason.
  static bool FromRule(const std::string& rule, BoardZone* zone, std::string* error);
  static bool FromEnvironment(BoardZone* zone, std::string* error);

  const sim::TimeZoneSetting& Setting() const { return setting_; }
  // The rule as given, or a description of where the setting came from.
  const std::string& Rule() const { return rule_; }
  bool HasDaylightRule() const { return setting_.daylightStart.month != 0; }

  // The board's local time at a UTC second, and the offset then in force.
  LocalTimeFields LocalAt(int64_t utc) const;
  int32_t OffsetAt(int64_t utc) const;  // minutes east of UTC

  // Every UTC second the board names with this local time (seconds since
  // 1970 of the local calendar, as FileTime::LocalSeconds counts them), in
  // time order: one; two in the repeated hour after a change back to standard
  // time; none in the hour skipped by the change forward.
  std::vector<int64_t> UtcOf(int64_t localSeconds) const;

  // Offset changes in [from, to), in time order.
  std::vector<ClockChange> ChangesBetween(int64_t from, int64_t to) const;

 private:
  sim::TimeZoneSetting setting_;
  std::string rule_;
  TIME_ZONE_INFORMATION information_;
};

// Local calendar seconds of the five name fields (same count as FileTime).
int64_t LocalSecondsOf(const LocalTimeFields& fields);
// "126-297-2-59-40", as MakeDataFileName writes the name.
std::string DataFileName(const LocalTimeFields& fields);
// "+02:00", "-03:30", "+05:45".
std::string OffsetText(int32_t minutesEast);
// "2026-10-25T00:59:40Z"; with fractional seconds "2026-10-25T00:59:39.000Z".
std::string UtcText(int64_t utc);
std::string UtcText(double utc, int decimals);
// "20261025T005939Z", ISO 8601 basic form.
std::string UtcBasicText(int64_t utc);
// "2026-10-25T02:59:40+02:00": the local time of `utc` with its offset.
std::string LocalText(const BoardZone& zone, int64_t utc);

}  // namespace datatools
