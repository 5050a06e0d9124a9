// Welch densities gathered onto a picture's pixel columns, from every
// window of every record, in memory that grows with the picture (columns ×
// bins), not with the data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/deployment.h"
#include "tools/common/levels.h"
#include "tools/pelmok-data/huge_pages.h"

namespace datatools {

class SpectrumColumns {
 public:
  SpectrumColumns(int columns, size_t bins, double binHz);
  int Columns() const { return columns_; }
  size_t Bins() const { return bins_; }
  double BinHz() const { return binHz_; }
  // Adds a density (codes²/Hz) to a column; one of another bin width is
  // taken at the nearest of its bins.
  void Add(int column, const std::vector<double>& density, double densityBinHz);
  bool Has(int column) const { return count_[static_cast<size_t>(column)] > 0; }
  // A column with nothing takes the nearest column's: a record of fewer
  // windows than the picture has columns fills it.
  void FillFromNearest();
  // What a bin's codes²/Hz becomes under the calibration: µPa²/Hz, or FS²/Hz.
  std::vector<double> Factors(const Calibration& c) const;
  // The column's mean density per bin under those factors (µPa²/Hz, or
  // FS²/Hz); empty for a column with nothing. Pictures take the loudest of
  // several bins before the logarithm: one log10 a pixel, not one a bin.
  std::vector<double> Densities(int column, const std::vector<double>& factors) const;

 private:
  int columns_;
  size_t bins_;
  double binHz_;
  std::vector<float, HugePageAllocator<float>> sum_;  // columns × bins
  std::vector<uint32_t> count_;                       // densities added per column
};

// A record's mean Welch density over every window of `length` samples (a
// shorter record: one window of its own length), streamed. Its bin width in
// *binHz. False with a one-line reason naming the file.
// A density in dB (re 1 µPa²/Hz or re 1 FS²/Hz); nothing is minus infinity.
double DensityDb(double density);

bool RecordDensity(const Deployment& d, const Record& r, size_t length,
                   std::vector<double>* density, double* binHz, std::string* error);

}  // namespace datatools
