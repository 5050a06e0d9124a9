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
#include "hostlib/time_zone.h"
#include "tools/formats/data_file_name.h"

namespace datatools {

// An instant where the offset in force changes, within a span asked about.
struct ClockChange {
  int64_t utc = 0;           // the first second under the new offset
  int32_t offsetBefore = 0;  // minutes east of UTC (+120 for CEST)
  int32_t offsetAfter = 0;
};

// The board's time-zone setting as every host tool holds it, with the
// board's own conversion.
class BoardZone {
 public:
  BoardZone();  // UTC0
  explicit BoardZone(const hostlib::TimeZoneSetting& setting, const std::string& rule = "");

  // What --time-zone takes, as TZ takes it: a POSIX rule such as
  // "CET-1CEST,M3.5.0,M10.5.0/3", or a zone name such as Europe/Berlin by the
  // rule at the end of its zoneinfo file. False with a one-line reason.
  static bool FromRule(const std::string& rule, BoardZone* zone, std::string* error);
  // The TZ variable the same way, else the host's own zone (/etc/localtime).
  static bool FromEnvironment(BoardZone* zone, std::string* error);

  const hostlib::TimeZoneSetting& Setting() const { return setting_; }
  // The rule as given, or a description of where the setting came from.
  const std::string& Rule() const { return rule_; }
  bool HasDaylightRule() const { return setting_.daylightStart.month != 0; }

  // The board's local time at a UTC second, and the offset then in force.
  LocalTimeFields LocalAt(int64_t utc) const;
  // The name of a data file the board starts at `utc`.
  DataFileName NameAt(int64_t utc) const { return DataFileName::Of(LocalAt(utc)); }
  int32_t OffsetAt(int64_t utc) const;  // minutes east of UTC

  // Every UTC second the board names with this local time (seconds since
  // 1970 of the local calendar, as DataFileName::LocalSeconds counts them), in
  // time order: one; two in the repeated hour after a change back to standard
  // time; none in the hour skipped by the change forward.
  std::vector<int64_t> UtcOf(int64_t localSeconds) const;

  // Offset changes in [from, to), in time order.
  std::vector<ClockChange> ChangesBetween(int64_t from, int64_t to) const;

 private:
  hostlib::TimeZoneSetting setting_;
  std::string rule_;
  TIME_ZONE_INFORMATION information_;
};

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
