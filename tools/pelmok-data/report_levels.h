// The report's sound levels: decidecade band levels over time and their
// spread over the records, the spectral percentiles against the sea's noise
// and the noise-floor verdict.
#pragma once

#include "tools/common/deployment.h"
#include "tools/formats/html_page.h"
#include "tools/pelmok-data/plot.h"

namespace datatools {

void ReportSoundLevels(HtmlPage& page, const Deployment& d, const PlotOptions& plot);

}  // namespace datatools
