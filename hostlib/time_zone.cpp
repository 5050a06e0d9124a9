#include "hostlib/time_zone.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "hostlib/regular_file.h"
#include "platform/calendar.h"

namespace hostlib {
namespace {

// A cursor over the rule text.
struct Reader {
  const std::string& s;
  size_t at = 0;
  bool Done() const { return at >= s.size(); }
  char Peek() const { return Done() ? '\0' : s[at]; }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++at;
    return true;
  }
  // Up to `maxDigits` digits; false when there is none.
  bool Number(int maxDigits, int* value) {
    int n = 0, digits = 0;
    while (digits < maxDigits && std::isdigit(static_cast<unsigned char>(Peek()))) {
      n = n * 10 + (s[at++] - '0');
      ++digits;
    }
    *value = n;
    return digits > 0;
  }
};

// A zoneinfo file is a few KB; anything near this is no zone.
constexpr uint64_t kZoneinfoLimit = 1 << 20;

// Text from a file or the environment goes to a terminal: control bytes and
// bytes above ASCII are shown as \xNN, and a long message is cut.
std::string Printable(const std::string& text) {
  constexpr size_t kLongest = 400;
  std::string out;
  for (unsigned char c : text) {
    if (out.size() >= kLongest) return out + "...";
    if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool Fail(std::string* error, const std::string& message) {
  *error = Printable(message);
  return false;
}

// std or dst: three or more letters, or <...> of letters, digits, '+', '-'.
bool Name(Reader& r, std::string* name) {
  const size_t start = r.at;
  if (r.Take('<')) {
    while (!r.Done() && r.Peek() != '>') {
      const char c = r.Peek();
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-') return false;
      ++r.at;
    }
    *name = r.s.substr(start + 1, r.at - start - 1);
    return r.Take('>') && name->size() >= 3;
  }
  while (std::isalpha(static_cast<unsigned char>(r.Peek()))) ++r.at;
  *name = r.s.substr(start, r.at - start);
  return name->size() >= 3;
}

// [+-]hh[:mm[:ss]] in seconds; `hourDigits` allows the rule extension of
// three-digit hours, which is then refused by range.
bool Clock(Reader& r, int hourDigits, long* seconds) {
  const bool negative = r.Take('-');
  if (!negative) r.Take('+');
  int h = 0, m = 0, sec = 0;
  if (!r.Number(hourDigits, &h)) return false;
  if (r.Take(':')) {
    if (!r.Number(2, &m) || m > 59) return false;
    if (r.Take(':') && (!r.Number(2, &sec) || sec > 59)) return false;
  }
  *seconds = (negative ? -1 : 1) * (h * 3600L + m * 60L + sec);
  return true;
}

// An offset the board holds: whole minutes within 24 hours.
bool Offset(Reader& r, const std::string& text, int32_t* minutes, std::string* error) {
  long seconds = 0;
  const size_t start = r.at;
  if (!Clock(r, 2, &seconds)) return Fail(error, "no offset at '" + text.substr(start) + "'");
  const std::string written = text.substr(start, r.at - start);
  if (seconds % 60 != 0)
    return Fail(error, "offset " + written + " has seconds: the board holds whole minutes");
  if (seconds > 24L * 3600 || seconds < -24L * 3600)
    return Fail(error, "offset " + written + " beyond 24 hours");
  *minutes = static_cast<int32_t>(seconds / 60);
  return true;
}

// ,Mm.w.d[/time]
bool Change(Reader& r, const std::string& text, ZoneChange* change, std::string* error) {
  const size_t start = r.at;
  if (r.Peek() == 'J' || std::isdigit(static_cast<unsigned char>(r.Peek())))
    return Fail(error, "Julian-day date at '" + text.substr(start) +
                           "': the board holds only Mm.w.d dates");
  int month = 0, week = 0, weekday = 0;
  if (!r.Take('M') || !r.Number(2, &month) || !r.Take('.') || !r.Number(1, &week) || !r.Take('.') ||
      !r.Number(1, &weekday) || month < 1 || month > 12 || week < 1 || week > 5 || weekday > 6)
    return Fail(error, "bad date at '" + text.substr(start) + "': Mm.w.d wanted");
  long seconds = 2L * 3600;
  if (r.Take('/')) {
    const size_t timeAt = r.at;
    if (!Clock(r, 3, &seconds)) return Fail(error, "bad time at '" + text.substr(timeAt) + "'");
    if (seconds < 0 || seconds >= 24L * 3600)
      return Fail(error, "change time /" + text.substr(timeAt, r.at - timeAt) +
                             " outside 00:00 to 23:59: the board cannot hold it");
  }
  change->month = static_cast<uint16_t>(month);
  change->week = static_cast<uint16_t>(week);
  change->weekday = static_cast<uint16_t>(weekday);
  change->hour = static_cast<uint16_t>(seconds / 3600);
  change->minute = static_cast<uint16_t>(seconds / 60 % 60);
  change->second = static_cast<uint16_t>(seconds % 60);
  return true;
}

SYSTEMTIME ChangeDate(const ZoneChange& c) {
  SYSTEMTIME d = {};
  d.wMonth = c.month;
  d.wDayOfWeek = c.weekday;
  d.wDay = c.week;
  d.wHour = c.hour;
  d.wMinute = c.minute;
  d.wSecond = c.second;
  return d;
}

// Names are ASCII; the kernel keeps 31 characters and the terminator.
void CopyName(const std::string& name, WCHAR (&to)[32]) {
  size_t i = 0;
  for (; i < name.size() && i < 31; ++i)
    to[i] = static_cast<WCHAR>(static_cast<unsigned char>(name[i]));
  to[i] = 0;
}

}  // namespace

bool ParseUtcTime(const std::string& text, int64_t* seconds, std::string* error) {
  Reader r{text};
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  const bool shaped = r.Number(4, &year) && r.at == 4 && r.Take('-') && r.Number(2, &month) &&
                      r.at == 7 && r.Take('-') && r.Number(2, &day) && r.at == 10 && r.Take('T') &&
                      r.Number(2, &hour) && r.at == 13 && r.Take(':') && r.Number(2, &minute) &&
                      r.at == 16 && r.Take(':') && r.Number(2, &second) && r.at == 19 &&
                      r.Take('Z') && r.Done();
  if (!shaped) return Fail(error, "'" + text + "' is not a UTC time like 2026-10-25T00:59:58Z");
  if (year < 1970 || year > 2199 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month) || hour > 23 || minute > 59 || second > 59)
    return Fail(error, "'" + text + "' is not a time from 1970 to 2199");
  *seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600L + minute * 60L + second;
  return true;
}

bool ParseUtcInstant(const std::string& text, double* seconds, std::string* error) {
  const size_t dot = text.find('.');
  std::string whole = text;
  double fraction = 0;
  if (dot != std::string::npos) {
    size_t end = dot + 1;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
    if (end == dot + 1 || end > dot + 10 || text.substr(end) != "Z")
      return Fail(error, "'" + text + "' is not a UTC time like 2026-10-20T12:00:03.2Z");
    fraction = std::stod("0" + text.substr(dot, end - dot));
    whole = text.substr(0, dot) + "Z";
  }
  int64_t s = 0;
  if (!ParseUtcTime(whole, &s, error)) {
    if (dot != std::string::npos)
      *error = "'" + text + "' is not a UTC time like 2026-10-20T12:00:03.2Z";
    return false;
  }
  *seconds = static_cast<double>(s) + fraction;
  return true;
}

bool ParseZoneRule(const std::string& rule, TimeZoneSetting* zone, std::string* error) {
  Reader r{rule};
  TimeZoneSetting z;
  if (!Name(r, &z.standardName))
    return Fail(error, "'" + rule + "': no zone name of 3 or more letters");
  if (!Offset(r, rule, &z.bias, error)) return false;
  z.standardName.resize(std::min<size_t>(z.standardName.size(), 31));
  if (!r.Done()) {
    const size_t nameAt = r.at;
    if (!Name(r, &z.daylightName))
      return Fail(error, "bad daylight name at '" + rule.substr(nameAt) + "'");
    int32_t daylight = z.bias - 60;  // one hour ahead unless written
    if (!r.Done() && r.Peek() != ',') {
      if (!Offset(r, rule, &daylight, error)) return false;
    } else if (daylight < -24 * 60) {
      // The same bound as a written one: -24 plus the hour is 25 hours ahead.
      return Fail(error, "'" + rule +
                             "': daylight time, one hour ahead of standard time when its offset"
                             " is not written, is beyond 24 hours");
    }
    z.daylightBias = daylight - z.bias;
    if (r.Done())
      return Fail(error, "'" + rule + "': daylight time without its dates (,start,end)");
    if (!r.Take(','))
      return Fail(error, "unexpected '" + rule.substr(r.at) + "' in '" + rule + "'");
    if (!Change(r, rule, &z.daylightStart, error)) return false;
    if (!r.Take(',')) return Fail(error, "'" + rule + "': daylight time without its end date");
    if (!Change(r, rule, &z.standardStart, error)) return false;
  }
  if (!r.Done()) return Fail(error, "unexpected '" + rule.substr(r.at) + "' in '" + rule + "'");
  *zone = z;
  return true;
}

bool ReadZoneinfoRule(const std::string& path, std::string* rule, std::string* error) {
  std::string content, reason;
  if (!ReadRegularFile(path, &content, &reason, kZoneinfoLimit))
    return Fail(error, "cannot read zoneinfo file " + reason);
  // Version 2+ files end with "\n<rule>\n" after the 64-bit data.
  if (content.compare(0, 4, "TZif") != 0 || content.size() < 6 || content[4] < '2')
    return Fail(error, path + " is not a zoneinfo file of version 2 or later");
  if (content.back() != '\n') return Fail(error, path + " has no rule at its end");
  const size_t start = content.rfind('\n', content.size() - 2);
  if (start == std::string::npos) return Fail(error, path + " has no rule at its end");
  *rule = content.substr(start + 1, content.size() - start - 2);
  if (rule->empty()) return Fail(error, path + " ends with an empty rule");
  return true;
}

namespace {

// The setting from a zoneinfo file: the rule at its end.
bool ZoneFromFile(const std::string& path, TimeZoneSetting* zone, std::string* error) {
  std::string rule;
  if (!ReadZoneinfoRule(path, &rule, error)) return false;
  std::string ruleError;
  if (!ParseZoneRule(rule, zone, &ruleError))
    return Fail(error, "the rule '" + rule + "' of " + path + ": " + ruleError);
  return true;
}

// ParseTimeZone, its messages starting with `label` ("TZ " for the variable).
bool ZoneFromText(const std::string& text, const std::string& label, TimeZoneSetting* zone,
                  std::string* error, const std::string& zoneinfoDir) {
  const std::string value = text.empty() ? "UTC0" : text;  // POSIX: an empty TZ is UTC
  const std::string quoted = label + "'" + value + "'";
  std::string ruleError;
  if (value[0] != ':' && ParseZoneRule(value, zone, &ruleError)) return true;
  const std::string name = value[0] == ':' ? value.substr(1) : value;
  if (name.empty()) return Fail(error, quoted + " names no zone");
  if (name.find("..") != std::string::npos)
    return Fail(
        error,
        quoted + ": a zone name with '..' is refused" +
            (ruleError.empty() ? "" : ", and it is no rule the board holds (" + ruleError + ")"));
  const std::string path = name[0] == '/' ? name : zoneinfoDir + "/" + name;
  if (access(path.c_str(), F_OK) != 0 && errno == ENOENT) {
    if (value[0] == ':') return Fail(error, quoted + ": no zone " + path);
    return Fail(error, quoted + " is neither a rule the board holds (" + ruleError +
                           ") nor a zone in " + zoneinfoDir);
  }
  return ZoneFromFile(path, zone, error);
}

}  // namespace

bool ParseTimeZone(const std::string& text, TimeZoneSetting* zone, std::string* error,
                   const std::string& zoneinfoDir) {
  return ZoneFromText(text, "", zone, error, zoneinfoDir);
}

bool ZoneFromTz(const char* tz, TimeZoneSetting* zone, std::string* error,
                const std::string& zoneinfoDir, const std::string& localtimePath) {
  if (tz == nullptr) return ZoneFromFile(localtimePath, zone, error);
  return ZoneFromText(tz, "TZ ", zone, error, zoneinfoDir);
}

std::string TzOrigin(const char* tz) {
  return tz != nullptr ? std::string("TZ=") + tz : "the host's zone (/etc/localtime)";
}

TIME_ZONE_INFORMATION ZoneInformation(const TimeZoneSetting& zone) {
  TIME_ZONE_INFORMATION info;
  std::memset(&info, 0, sizeof info);
  info.Bias = zone.bias;
  CopyName(zone.standardName, info.StandardName);
  info.StandardDate = ChangeDate(zone.standardStart);
  info.StandardBias = zone.standardBias;
  CopyName(zone.daylightName, info.DaylightName);
  info.DaylightDate = ChangeDate(zone.daylightStart);
  info.DaylightBias = zone.daylightBias;
  return info;
}

}  // namespace hostlib
