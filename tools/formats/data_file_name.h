// A data file's name: the board's local time of the file's first write,
// "<years since 1900>-<day of year from 0>-<hour>-<minute>-<second>", each a
// decimal number with no sign and no padding ("109-77-14-5-9"). The board's
// writer (datafiles/) makes these names; on the host this type is the one
// place that reads, writes and orders them.
#pragma once

#include <cstdint>
#include <string>

#include "datafiles/local_time.h"

namespace datatools {

struct DataFileName {
  int year = 0;   // e.g. 2009
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int dayOfYear = 0;
  int hour = 0, minute = 0, second = 0;

  // False for a name the board does not write (fields out of range included;
  // second 60, a leap second a C library may report, is taken).
  static bool Parse(const std::string& name, DataFileName* parsed);
  static bool Is(const std::string& name);
  // Five fields of decimal digits joined by '-', whatever their values: the
  // shape of a data file name, "126-365-0-0-0" (no such day) included.
  static bool Shaped(const std::string& name);
  // The name of the local time `fields`, as MakeDataFileName writes it.
  static DataFileName Of(const LocalTimeFields& fields);
  // The name of local calendar second `localSeconds` (as LocalSeconds counts).
  static DataFileName AtLocalSeconds(int64_t localSeconds);

  std::string Name() const;  // "109-77-14-5-9"
  // Seconds since 1970-01-01 00:00 of the same clock, for order and gaps: a
  // naive local count, so a daylight-saving change shows as a jump of an hour.
  int64_t LocalSeconds() const;
  std::string Text() const;   // "YYYY-MM-DD HH:MM:SS"
  std::string Date() const;   // "YYYY-MM-DD"
  std::string Clock() const;  // "HH:MM:SS"
};

// File names in time order: data file names by the local time they carry,
// before every other name, which go in byte order; equal times by text.
struct DataFileNameOrder {
  bool operator()(const std::string& a, const std::string& b) const;
};

}  // namespace datatools
