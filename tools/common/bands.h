// The frequency bands ocean acousticians exchange levels in, and the power a
// Welch density holds in a band.
//
// Decidecade bands (base-10 third-octaves, IEC 61260-1): centre 10^(n/10) Hz,
// edges 10^((n ± 0.5)/10) Hz, from the band holding 10 Hz (n = 10) to the last
// band wholly below the Nyquist frequency.
//
// Hybrid millidecade bands (Martin et al., JASA Express Letters 1, 011203,
// 2021): 1 Hz bands centred on 0, 1, ..., 434 Hz with edges k ± 0.5 Hz (the
// first from 0 to 0.5 Hz), then millidecade bands with centres 10^(n/1000) Hz
// and edges 10^((n ± 0.5)/1000) Hz from n = 2639 (435.5 Hz), whose lower edge
// is moved down to 434.5 Hz, where the 1 Hz bands end, so that the bands tile
// the axis; up to the last band wholly below the Nyquist frequency.
#pragma once

#include <cstddef>
#include <vector>

namespace datatools {

struct Band {
  double centreHz = 0, lowHz = 0, highHz = 0;
  double WidthHz() const { return highHz - lowHz; }
};

std::vector<Band> DecidecadeBands(double nyquistHz);
std::vector<Band> HybridMillidecadeBands(double nyquistHz);

// The power in [lowHz, highHz] of a one-sided density whose bin k stands for
// [(k - ½), (k + ½)] × binHz: each bin's density times the width of its
// overlap with the band (partial bins weighted by their overlap).
double BandPower(const std::vector<double>& density, double binHz, double lowHz, double highHz);

}  // namespace datatools
