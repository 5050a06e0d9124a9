#include "tools/pelmok-data/psd_columns.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "tools/common/welch.h"
#include "tools/pelmok-data/record_samples.h"

namespace datatools {

SpectrumColumns::SpectrumColumns(int columns, size_t bins, double binHz)
    : columns_(std::max(1, columns)),
      bins_(bins),
      binHz_(binHz),
      sum_(static_cast<size_t>(columns_) * bins, 0.0f),
      count_(static_cast<size_t>(columns_), 0) {}

void SpectrumColumns::Add(int column, const std::vector<double>& density, double densityBinHz) {
  if (column < 0 || column >= columns_ || density.empty()) return;
  float* sum = &sum_[static_cast<size_t>(column) * bins_];
  if (density.size() == bins_ && densityBinHz == binHz_) {
    for (size_t k = 0; k < bins_; ++k) sum[k] += static_cast<float>(density[k]);
  } else {
    const double ratio = binHz_ / densityBinHz;
    for (size_t k = 0; k < bins_; ++k) {
      const size_t j = std::min(density.size() - 1, static_cast<size_t>(std::lround(k * ratio)));
      sum[k] += static_cast<float>(density[j]);
    }
  }
  ++count_[static_cast<size_t>(column)];
}

void SpectrumColumns::FillFromNearest() {
  std::vector<int> source(static_cast<size_t>(columns_), -1);
  int last = -1;
  for (int c = 0; c < columns_; ++c) source[c] = Has(c) ? (last = c) : last;
  int next = -1;
  for (int c = columns_ - 1; c >= 0; --c) {
    if (Has(c)) {
      next = c;
      continue;
    }
    if (next >= 0 && (source[c] < 0 || next - c < c - source[c])) source[c] = next;
  }
  for (int c = 0; c < columns_; ++c) {
    if (Has(c) || source[c] < 0) continue;
    std::copy_n(&sum_[static_cast<size_t>(source[c]) * bins_], bins_,
                &sum_[static_cast<size_t>(c) * bins_]);
    count_[c] = count_[source[c]];
  }
}

std::vector<double> SpectrumColumns::Factors(const Calibration& c) const {
  std::vector<double> factors(bins_);
  for (size_t k = 0; k < bins_; ++k) factors[k] = c.PowerPerCodeSquared(k * binHz_);
  return factors;
}

std::vector<double> SpectrumColumns::Densities(int column,
                                               const std::vector<double>& factors) const {
  std::vector<double> densities;
  const uint32_t n = count_[static_cast<size_t>(column)];
  if (n == 0) return densities;
  densities.resize(bins_);
  const float* sum = &sum_[static_cast<size_t>(column) * bins_];
  for (size_t k = 0; k < bins_; ++k) densities[k] = sum[k] / n * factors[k];
  return densities;
}

double DensityDb(double density) {
  return density > 0 ? 10 * std::log10(density) : -std::numeric_limits<double>::infinity();
}

bool RecordDensity(const Deployment& d, const Record& r, size_t length,
                   std::vector<double>* density, double* binHz, std::string* error) {
  WelchSpectra welch(std::min<uint64_t>(length, std::max<uint64_t>(2, r.words)), d.settings.rate);
  const bool read = ForEachRecordBlock(
      d, r,
      [&](const std::vector<int32_t>& codes, const std::vector<uint32_t>&) {
        welch.Add(codes.data(), codes.size());
      },
      error);
  *density = welch.Mean();
  *binHz = welch.BinHz();
  return read;
}

}  // namespace datatools
