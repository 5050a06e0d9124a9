#include "tools/formats/data_file_name.h"

#include <cstdio>

#include "platform/calendar.h"

namespace datatools {
namespace {

std::string Format(const char* format, int a, int b, int c) {
  char text[48];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

// Up to six plain digits at *p: the board writes no sign, no padding beyond
// what the number needs, no extension.
bool Field(const char** p, long* value) {
  const char* start = *p;
  long n = 0;
  while (**p >= '0' && **p <= '9' && *p - start < 6) n = n * 10 + (*(*p)++ - '0');
  *value = n;
  return *p > start && !(**p >= '0' && **p <= '9');
}

}  // namespace

bool DataFileName::Parse(const std::string& name, DataFileName* parsed) {
  long fields[5];
  const char* p = name.c_str();
  for (int i = 0; i < 5; ++i) {
    if (!Field(&p, &fields[i])) return false;
    if (i < 4 && *p++ != '-') return false;
  }
  if (*p != '\0' || p != name.c_str() + name.size()) return false;
  DataFileName t;
  t.year = static_cast<int>(fields[0]) + 1900;
  t.dayOfYear = static_cast<int>(fields[1]);
  t.hour = static_cast<int>(fields[2]);
  t.minute = static_cast<int>(fields[3]);
  t.second = static_cast<int>(fields[4]);
  if (t.dayOfYear > (IsLeapYear(t.year) ? 365 : 364) || t.hour > 23 || t.minute > 59 ||
      t.second > 60)
    return false;
  int64_t year = 0;
  CivilFromDays(DaysFromCivil(t.year, 1, 1) + t.dayOfYear, &year, &t.month, &t.day);
  *parsed = t;
  return true;
}

bool DataFileName::Is(const std::string& name) {
  DataFileName ignored;
  return Parse(name, &ignored);
}

bool DataFileName::Shaped(const std::string& name) {
  int fields = 1;
  bool digit = false;  // the current field has one
  for (const char c : name) {
    if (c == '-' && digit) {
      ++fields;
      digit = false;
    } else if (c >= '0' && c <= '9') {
      digit = true;
    } else {
      return false;
    }
  }
  return fields == 5 && digit;
}

DataFileName DataFileName::Of(const LocalTimeFields& f) {
  DataFileName t;
  t.year = 1900 + f.yearsSince1900;
  t.dayOfYear = f.dayOfYear;
  int64_t year = 0;
  CivilFromDays(DaysFromCivil(t.year, 1, 1) + t.dayOfYear, &year, &t.month, &t.day);
  t.hour = f.hour;
  t.minute = f.minute;
  t.second = f.second;
  return t;
}

DataFileName DataFileName::AtLocalSeconds(int64_t localSeconds) {
  const int64_t days = FloorDivide(localSeconds, 86400);
  const int64_t secondOfDay = localSeconds - days * 86400;
  DataFileName t;
  int64_t year = 0;
  CivilFromDays(days, &year, &t.month, &t.day);
  t.year = static_cast<int>(year);
  t.dayOfYear = static_cast<int>(days - DaysFromCivil(year, 1, 1));
  t.hour = static_cast<int>(secondOfDay / 3600);
  t.minute = static_cast<int>(secondOfDay / 60 % 60);
  t.second = static_cast<int>(secondOfDay % 60);
  return t;
}

std::string DataFileName::Name() const {
  char text[64];
  std::snprintf(text, sizeof text, "%d-%d-%d-%d-%d", year - 1900, dayOfYear, hour, minute, second);
  return text;
}

int64_t DataFileName::LocalSeconds() const {
  return (DaysFromCivil(year, 1, 1) + dayOfYear) * 86400 + hour * 3600LL + minute * 60LL + second;
}

std::string DataFileName::Date() const { return Format("%04d-%02d-%02d", year, month, day); }
std::string DataFileName::Clock() const { return Format("%02d:%02d:%02d", hour, minute, second); }
std::string DataFileName::Text() const { return Date() + " " + Clock(); }

bool DataFileNameOrder::operator()(const std::string& a, const std::string& b) const {
  DataFileName x, y;
  const bool namedA = DataFileName::Parse(a, &x), namedB = DataFileName::Parse(b, &y);
  if (namedA != namedB) return namedA;
  if (namedA && x.LocalSeconds() != y.LocalSeconds()) return x.LocalSeconds() < y.LocalSeconds();
  return a < b;
}

}  // namespace datatools
