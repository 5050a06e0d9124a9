// A hydrophone's calibration curve from a CSV file, as calibration sheets
// give it: frequency in Hz and sensitivity in dB re 1 V/µPa.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tools/common/levels.h"

namespace datatools {
namespace {

// A whole field as a finite decimal number, blanks around it allowed.
bool ParseNumber(const std::string& field, double* value) {
  const size_t first = field.find_first_not_of(" \t\"");
  if (first == std::string::npos) return false;
  const size_t last = field.find_last_not_of(" \t\r\"");
  const std::string text = field.substr(first, last - first + 1);
  char* end = nullptr;
  errno = 0;
  *value = std::strtod(text.c_str(), &end);
  return errno == 0 && end == text.c_str() + text.size() && std::isfinite(*value);
}

// One line into a point; `reason` says what is wrong with it.
bool ParsePoint(const std::string& line, CalibrationPoint* point, std::string* reason) {
  const size_t comma = line.find(',');
  if (comma == std::string::npos || line.find(',', comma + 1) != std::string::npos) {
    *reason = "expected two fields, frequency Hz and sensitivity dB re 1 V/\xC2\xB5Pa";
    return false;
  }
  if (!ParseNumber(line.substr(0, comma), &point->hz) ||
      !ParseNumber(line.substr(comma + 1), &point->sensitivityDb)) {
    *reason = "not a number";
    return false;
  }
  if (point->hz <= 0) {
    *reason = "the frequency must be above 0 Hz";
    return false;
  }
  // A sensitivity in dB re 1 V/µPa lies far below 0; a positive one is a sign slip.
  if (point->sensitivityDb >= 0 || point->sensitivityDb < -300) {
    *reason = "the sensitivity is in dB re 1 V/\xC2\xB5Pa, below 0 (such as -165)";
    return false;
  }
  return true;
}

}  // namespace

bool ReadCalibrationCurve(const std::string& path, std::vector<CalibrationPoint>* curve,
                          std::string* error) {
  curve->clear();
  std::ifstream in(path);
  if (!in) {
    *error = path + ": cannot be read";
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    CalibrationPoint point;
    std::string reason;
    if (!ParsePoint(line, &point, &reason)) {
      // The first line may name the columns.
      if (number == 1 && reason == "not a number") continue;
      *error = path;
      *error += ": line " + std::to_string(number) + ": " + reason;
      return false;
    }
    if (!curve->empty() && point.hz <= curve->back().hz) {
      *error =
          path + ": line " + std::to_string(number) + ": frequencies must rise from line to line";
      return false;
    }
    curve->push_back(point);
  }
  if (curve->size() < 2) {
    *error = path + ": a calibration curve needs at least two points";
    return false;
  }
  return true;
}

}  // namespace datatools
