// Hybrid millidecade spectra as NetCDF-4, the form the ocean sound archives
// take: psd(time, frequency), one time entry per record (its UTC start; the
// board's records are snapshots, so a record is the unit), with CF
// attributes, the bands' edges and the calibration. Built in memory, one
// file's worth (a UTC day at most), and written through OutputFile.
#pragma once

#include <string>
#include <vector>

#include "tools/common/output_file.h"
#include "tools/pelmok-data/sound_levels.h"

namespace datatools {

// What the file says about where its levels come from.
struct NetcdfContext {
  std::string title;
  std::string calibration;  // Calibration::Text()
  std::vector<CalibrationPoint> curve;
  std::string densityUnit;                                      // LevelUnits::density
  std::vector<std::pair<std::string, std::string>> attributes;  // further global attributes
};

class NetcdfLevels {
 public:
  NetcdfLevels() = default;
  ~NetcdfLevels();
  NetcdfLevels(const NetcdfLevels&) = delete;
  NetcdfLevels& operator=(const NetcdfLevels&) = delete;

  // Starts a file in memory for `path`. False with a one-line reason.
  bool Create(const std::string& path, const LevelBands& bands, const NetcdfContext& context,
              std::string* error);
  // One record: its UTC start (seconds since 1970), length and densities.
  bool Append(double startUtc, double seconds, const RecordLevels& levels, std::string* error);
  // Closes the file and writes it to its path under `policy`.
  bool Commit(const OutputPolicy& policy, std::string* error);
  bool Open() const { return ncid_ >= 0; }
  size_t Times() const { return times_; }

 private:
  bool Fail(int status, std::string* error);
  bool Define(const LevelBands& bands, const NetcdfContext& context, std::string* error);

  std::string path_;
  int ncid_ = -1;
  int timeVar_ = -1, durationVar_ = -1, psdVar_ = -1;
  size_t bands_ = 0;
  size_t times_ = 0;
  double first_ = 0, last_ = 0;
};

}  // namespace datatools
