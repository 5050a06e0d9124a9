#include "tools/common/bands.h"

#include <algorithm>
#include <cmath>

namespace datatools {
namespace {

constexpr int kLastHertzBand = 434;      // 1 Hz bands up to 434 Hz (edge 434.5 Hz)
constexpr int kFirstMillidecade = 2639;  // 10^2.639 = 435.5 Hz

double Decade(double exponent) { return std::pow(10.0, exponent); }

}  // namespace

std::vector<Band> DecidecadeBands(double nyquistHz) {
  std::vector<Band> bands;
  for (int n = 10;; ++n) {
    const Band b{Decade(n / 10.0), Decade((n - 0.5) / 10), Decade((n + 0.5) / 10)};
    if (b.highHz > nyquistHz) break;
    bands.push_back(b);
  }
  return bands;
}

std::vector<Band> HybridMillidecadeBands(double nyquistHz) {
  std::vector<Band> bands;
  for (int k = 0; k <= kLastHertzBand && k + 0.5 <= nyquistHz; ++k)
    bands.push_back({static_cast<double>(k), std::max(0.0, k - 0.5), k + 0.5});
  for (int n = kFirstMillidecade;; ++n) {
    Band b{Decade(n / 1000.0), Decade((n - 0.5) / 1000), Decade((n + 0.5) / 1000)};
    if (n == kFirstMillidecade) b.lowHz = kLastHertzBand + 0.5;
    if (b.highHz > nyquistHz) break;
    bands.push_back(b);
  }
  return bands;
}

double BandPower(const std::vector<double>& density, double binHz, double lowHz, double highHz) {
  if (density.empty() || !(highHz > lowHz)) return 0;
  const double last = static_cast<double>(density.size() - 1);
  const size_t k0 = static_cast<size_t>(std::clamp(std::floor(lowHz / binHz + 0.5), 0.0, last));
  const size_t k1 = static_cast<size_t>(std::clamp(std::floor(highHz / binHz + 0.5), 0.0, last));
  double power = 0;
  for (size_t k = k0; k <= k1; ++k) {
    const double a = std::max(lowHz, (k - 0.5) * binHz), b = std::min(highHz, (k + 0.5) * binHz);
    if (b > a) power += density[k] * (b - a);
  }
  return power;
}

}  // namespace datatools
