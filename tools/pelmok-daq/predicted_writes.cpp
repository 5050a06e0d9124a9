#include "tools/pelmok-daq/predicted_writes.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "tools/common/like_findings.h"

namespace daq {
namespace {

// Writes grouped by name: the first index into the name-sorted order, and how many.
struct NameGroup {
  size_t first;
  size_t count;
};

// The writes' indices in name order (a name's writes together, in time
// order), and the groups of one name.
std::vector<size_t> ByName(const std::vector<PredictedWrite>& writes,
                           std::vector<NameGroup>* groups) {
  std::vector<size_t> order(writes.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return writes[a].name < writes[b].name; });
  for (size_t i = 0; i < order.size(); ++i) {
    if (i == 0 || writes[order[i]].name != writes[order[i - 1]].name) groups->push_back({i, 0});
    ++groups->back().count;
  }
  return order;
}

std::string Plural(uint64_t n, const char* one, const char* many) {
  return Grouped(n) + " " + (n == 1 ? one : many);
}

// "126-297-2-0-0 (100 writes), ..." for the first few groups `pick` takes.
template <typename Pick>
std::string Examples(const std::vector<PredictedWrite>& writes, const std::vector<size_t>& order,
                     const std::vector<NameGroup>& groups, Pick pick, size_t* picked) {
  datatools::LikeFindings like;
  for (const NameGroup& g : groups)
    if (pick(g))
      like.Add("", writes[order[g.first]].name + " (" + std::to_string(g.count) + " writes)");
  *picked = like.Size();
  return like.Size() > 0 ? like.Examples(0) : "";
}

// Writes that share a file: in one second of the board's clock, or an hour
// apart in the repeated hour after a change back.
void SharedFiles(const std::vector<PredictedWrite>& writes, std::vector<std::string>* findings) {
  std::vector<NameGroup> groups;
  const std::vector<size_t> order = ByName(writes, &groups);
  // Examples in the order the run makes the files.
  std::sort(groups.begin(), groups.end(), [&](const NameGroup& a, const NameGroup& b) {
    return order[a.first] < order[b.first];
  });
  const auto span = [&](const NameGroup& g) {
    return writes[order[g.first + g.count - 1]].utc - writes[order[g.first]].utc;
  };
  size_t sameSecond = 0, repeatedHour = 0;
  const std::string second = Examples(
      writes, order, groups, [&](const NameGroup& g) { return g.count > 1 && span(g) == 0; },
      &sameSecond);
  const std::string hour = Examples(
      writes, order, groups, [&](const NameGroup& g) { return g.count > 1 && span(g) > 0; },
      &repeatedHour);
  if (sameSecond > 0) {
    const double each = static_cast<double>(writes.size()) / static_cast<double>(groups.size());
    findings->push_back(
        Plural(writes.size(), "write goes", "writes go") + " to " +
        Plural(groups.size(), "file", "files") + ": writes in one second share a file, about " +
        std::to_string(static_cast<uint64_t>(std::lround(each))) + " a file; " +
        Plural(sameSecond, "file holds", "files hold") + " more than one (" + second + ")");
  }
  if (repeatedHour > 0)
    findings->push_back(
        Plural(repeatedHour, "name is", "names are") +
        " written in both passes of the repeated hour after a change back, one file each (" + hour +
        ")");
}

}  // namespace

std::string Grouped(uint64_t n) {
  std::string digits = std::to_string(n);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
    digits.insert(static_cast<size_t>(i), ",");
  return digits;
}

std::vector<PredictedWrite> PredictWrites(uint64_t writes, double iterationSeconds,
                                          const RunClock& clock, uint64_t limit,
                                          const std::vector<double>& writeSeconds) {
  const int64_t start =
      clock.startTime ? *clock.startTime : static_cast<int64_t>(std::time(nullptr));
  const double rate = 1.0 + clock.driftPpm * 1e-6;
  std::vector<PredictedWrite> predicted;
  const uint64_t named = std::min(writes, limit);
  predicted.reserve(named);
  for (uint64_t k = 0; k < named; ++k) {
    // A whole number of seconds is exact in a double, so a write on a second
    // falls in that second, not the one before.
    const double elapsed =
        k < writeSeconds.size() ? writeSeconds[k] : static_cast<double>(k + 1) * iterationSeconds;
    const int64_t utc = start + static_cast<int64_t>(std::floor(elapsed * rate + 1e-9));
    predicted.push_back({clock.zone.NameAt(utc).Name(), utc});
  }
  return predicted;
}

uint64_t FilesOf(const std::vector<PredictedWrite>& writes) {
  std::vector<NameGroup> groups;
  ByName(writes, &groups);
  return groups.size();
}

uint64_t RepeatedHourWrites(const std::vector<PredictedWrite>& writes,
                            const datatools::BoardZone& zone) {
  uint64_t n = 0;
  for (const PredictedWrite& w : writes)
    n += zone.UtcOf(zone.NameAt(w.utc).LocalSeconds()).size() > 1;
  return n;
}

datatools::Deployment PredictDeployment(const std::vector<PredictedWrite>& writes,
                                        const AcquisitionConfig& config, uint32_t frameRateHz,
                                        const datatools::BoardZone& zone) {
  const uint64_t words = static_cast<uint32_t>(config.samplesPerRecord);
  std::vector<NameGroup> groups;
  const std::vector<size_t> order = ByName(writes, &groups);
  // Telling the passes of a repeated hour apart costs the model memory by
  // the writes a second: past kModelledRepeatedHour such writes, they are left out.
  const bool leaveOut = RepeatedHourWrites(writes, zone) > kModelledRepeatedHour;
  std::vector<datatools::NamedSize> files;
  files.reserve(groups.size());
  for (const NameGroup& g : groups) {
    const PredictedWrite& w = writes[order[g.first]];
    if (leaveOut && zone.UtcOf(zone.NameAt(w.utc).LocalSeconds()).size() > 1) continue;
    files.push_back({w.name, g.count * words * 4});
  }
  datatools::DeploymentSettings settings;
  settings.zone = zone;
  settings.rate = frameRateHz;
  settings.samplesPerRecord = words;
  settings.recordsPerFile = config.recordsPerFile;
  settings.filesPerRun = config.filesPerUsbWrite;
  datatools::Deployment deployment;
  datatools::BuildDeployment(files, settings, &deployment);
  return deployment;
}

std::vector<std::string> NameFindings(const std::vector<PredictedWrite>& writes,
                                      const datatools::Deployment& predicted,
                                      const std::string& dataDir) {
  std::vector<std::string> findings;
  SharedFiles(writes, &findings);
  const uint64_t repeated = RepeatedHourWrites(writes, predicted.settings.zone);
  if (repeated > kModelledRepeatedHour)
    findings.push_back(
        Plural(repeated, "write falls", "writes fall") +
        " in the repeated hour after a change back: too many to work out here whether the data "
        "tools can tell their UTC times apart (the cadence between writes decides)");
  else if (predicted.ambiguous > 0)
    findings.push_back(
        Plural(predicted.ambiguous, "record", "records") +
        " of the repeated hour will have two possible UTC times: the cadence between writes "
        "cannot tell the two passes apart");
  datatools::Deployment existing;
  std::string error;
  if (!datatools::LoadDeployment({dataDir}, predicted.settings, &existing, &error)) return findings;
  std::vector<std::string> there;
  for (const datatools::DeploymentFile& f : existing.files) there.push_back(f.name);
  std::sort(there.begin(), there.end());
  std::vector<NameGroup> groups;
  const std::vector<size_t> order = ByName(writes, &groups);
  datatools::LikeFindings clash;
  for (const NameGroup& g : groups) {
    const std::string& name = writes[order[g.first]].name;
    if (std::binary_search(there.begin(), there.end(), name)) clash.Add("", name);
  }
  if (clash.Size() > 0)
    findings.push_back(Plural(clash.Size(), "name", "names") + " of the run's " +
                       Grouped(groups.size()) +
                       " exist already in the data folder: their writes go behind what the files "
                       "hold (" +
                       clash.Examples(0) + ")");
  return findings;
}

}  // namespace daq
