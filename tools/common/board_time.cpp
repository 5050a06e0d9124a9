#include "tools/common/board_time.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "hostlib/time_zone.h"
#include "platform/calendar.h"

namespace datatools {
namespace {

void Civil(int64_t utc, int64_t* year, int* month, int* day, int64_t* secondOfDay) {
  const int64_t days = FloorDivide(utc, 86400);
  *secondOfDay = utc - days * 86400;
  CivilFromDays(days, year, month, day);
}

}  // namespace

BoardZone::BoardZone() : BoardZone(hostlib::TimeZoneSetting{}, "UTC0") {}

BoardZone::BoardZone(const hostlib::TimeZoneSetting& setting, const std::string& rule)
    : setting_(setting), rule_(rule), information_(hostlib::ZoneInformation(setting)) {}

bool BoardZone::FromRule(const std::string& rule, BoardZone* zone, std::string* error) {
  hostlib::TimeZoneSetting setting;
  if (!hostlib::ParseTimeZone(rule, &setting, error)) return false;
  *zone = BoardZone(setting, rule);
  return true;
}

bool BoardZone::FromEnvironment(BoardZone* zone, std::string* error) {
  const char* tz = std::getenv("TZ");
  hostlib::TimeZoneSetting setting;
  if (!hostlib::ZoneFromTz(tz, &setting, error)) return false;
  *zone = BoardZone(setting, hostlib::TzOrigin(tz));
  return true;
}

LocalTimeFields BoardZone::LocalAt(int64_t utc) const { return LocalTimeAt(utc, information_); }

int32_t BoardZone::OffsetAt(int64_t utc) const {
  return static_cast<int32_t>((NameAt(utc).LocalSeconds() - utc) / 60);
}

std::vector<int64_t> BoardZone::UtcOf(int64_t localSeconds) const {
  // UTC = local + bias: the setting allows two biases, so at most two seconds.
  const int64_t biases[2] = {static_cast<int64_t>(information_.Bias) + information_.DaylightBias,
                             static_cast<int64_t>(information_.Bias) + information_.StandardBias};
  std::vector<int64_t> utc;
  for (int64_t bias : biases) {
    const int64_t candidate = localSeconds + bias * 60;
    if (NameAt(candidate).LocalSeconds() == localSeconds &&
        std::find(utc.begin(), utc.end(), candidate) == utc.end())
      utc.push_back(candidate);
  }
  std::sort(utc.begin(), utc.end());
  return utc;
}

std::vector<ClockChange> BoardZone::ChangesBetween(int64_t from, int64_t to) const {
  std::vector<ClockChange> changes;
  if (!HasDaylightRule() || to <= from) return changes;
  // Daylight and standard time each last far longer than a day: step by
  // days, then find the second by halving.
  constexpr int64_t kStep = 86400;
  int64_t at = from;
  int32_t offset = OffsetAt(at);
  while (at < to - 1) {
    const int64_t next = std::min(at + kStep, to - 1);
    const int32_t nextOffset = OffsetAt(next);
    if (nextOffset != offset) {
      int64_t low = at, high = next;  // offset at low differs from offset at high
      while (high - low > 1) {
        const int64_t mid = low + (high - low) / 2;
        (OffsetAt(mid) == offset ? low : high) = mid;
      }
      changes.push_back(ClockChange{high, offset, nextOffset});
      offset = nextOffset;
    }
    at = next;
  }
  return changes;
}

std::string OffsetText(int32_t minutesEast) {
  char text[16];
  const int32_t m = std::abs(minutesEast);
  std::snprintf(text, sizeof text, "%c%02d:%02d", minutesEast < 0 ? '-' : '+', m / 60, m % 60);
  return text;
}

std::string UtcText(int64_t utc) {
  int64_t year, second;
  int month, day;
  Civil(utc, &year, &month, &day, &second);
  char text[40];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02dZ", static_cast<long long>(year),
                month, day, static_cast<int>(second / 3600), static_cast<int>(second / 60 % 60),
                static_cast<int>(second % 60));
  return text;
}

std::string UtcText(double utc, int decimals) {
  const double scale = std::pow(10.0, decimals);
  const double rounded = std::round(utc * scale) / scale;
  const int64_t whole = static_cast<int64_t>(std::floor(rounded));
  std::string text = UtcText(whole);
  if (decimals <= 0) return text;
  char fraction[32];
  std::snprintf(fraction, sizeof fraction, "%.*f", decimals, rounded - static_cast<double>(whole));
  // "0.250" -> ".250", before the Z.
  text.insert(text.size() - 1, fraction + 1);
  return text;
}

std::string UtcBasicText(int64_t utc) {
  int64_t year, second;
  int month, day;
  Civil(utc, &year, &month, &day, &second);
  char text[40];
  std::snprintf(text, sizeof text, "%04lld%02d%02dT%02d%02d%02dZ", static_cast<long long>(year),
                month, day, static_cast<int>(second / 3600), static_cast<int>(second / 60 % 60),
                static_cast<int>(second % 60));
  return text;
}

std::string LocalText(const BoardZone& zone, int64_t utc) {
  const int32_t offset = zone.OffsetAt(utc);
  std::string text = UtcText(utc + static_cast<int64_t>(offset) * 60);
  text.pop_back();  // the Z
  return text + OffsetText(offset);
}

}  // namespace datatools
