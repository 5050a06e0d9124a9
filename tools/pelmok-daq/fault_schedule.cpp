#include "tools/pelmok-daq/fault_schedule.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

#include "platform/host/fat_volume.h"
#include "platform/host/host.h"
#include "sim/converter.h"
#include "sim/stuck_bit_signal.h"
#include "tools/common/device_configuration.h"

namespace daq {
namespace {

struct KindName {
  FaultKind kind;
  const char* name;
  const char* where;  // what WHERE is, for the error; "" takes none
};
const KindName kKinds[] = {
    {FaultKind::kDiskFull, "disk-full", "BYTES"},
    {FaultKind::kPowerLoss, "power-loss", "WRITE[:BYTES]"},
    {FaultKind::kRtcReset, "rtc-reset", ""},
    {FaultKind::kConverterPpm, "converter-ppm", "PPM"},
    {FaultKind::kOverrun, "overrun", "FRAME:COUNT"},
    {FaultKind::kStuckBit, "stuck-bit", "BIT:0|1"},
    {FaultKind::kStall, "stall", "FRAMES"},
};

const KindName& NameOf(FaultKind kind) {
  for (const KindName& k : kKinds)
    if (k.kind == kind) return k;
  return kKinds[0];
}

// A decimal integer, signed only where `negative` allows.
bool Number(const std::string& text, bool negative, int64_t* value) {
  if (text.empty()) return false;
  size_t i = negative && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (i == text.size() || text.size() - i > 18) return false;
  for (size_t j = i; j < text.size(); ++j)
    if (text[j] < '0' || text[j] > '9') return false;
  *value = std::stoll(text);
  return true;
}

bool ParseWhere(const std::string& where, Fault* f) {
  const size_t colon = where.find(':');
  const std::string a = where.substr(0, colon);
  const std::string b = colon == std::string::npos ? "" : where.substr(colon + 1);
  f->secondGiven = colon != std::string::npos;
  const bool two = f->kind == FaultKind::kOverrun || f->kind == FaultKind::kStuckBit;
  if (two && !f->secondGiven) return false;
  if (f->secondGiven && !two && f->kind != FaultKind::kPowerLoss) return false;
  if (!Number(a, f->kind == FaultKind::kConverterPpm, &f->first)) return false;
  if (f->secondGiven && !Number(b, false, &f->second)) return false;
  switch (f->kind) {
    case FaultKind::kPowerLoss: return f->first >= 1;
    case FaultKind::kConverterPpm: return f->first > -1000000 && f->first <= 1000000;
    case FaultKind::kOverrun: return f->second >= 1;
    case FaultKind::kStuckBit: return f->first <= 23 && f->second <= 1;
    default: return true;
  }
}

}  // namespace

RunShape ShapeOfRun(const std::string& deviceRoot) {
  AcquisitionConfig config;
  std::string console;
  datatools::ReadDeviceConfiguration(deviceRoot, &config, &console);
  RunShape run;
  const uint32_t words = static_cast<uint32_t>(config.samplesPerRecord);
  if (words > 0x3FFFFFFF || config.filesPerUsbWrite <= 0) return run;  // no buffer, or no iteration
  run.recordBytes = uint64_t{words} * 4;
  run.writes = config.sleepSeconds > 0 ? static_cast<uint64_t>(config.filesPerUsbWrite) : 0;
  if (config.recordsPerFile > 0)
    run.frames = uint64_t{words} * static_cast<uint64_t>(config.recordsPerFile) *
                 static_cast<uint64_t>(config.filesPerUsbWrite);
  return run;
}

bool ParseFault(const std::string& text, Fault* fault, std::string* error) {
  const size_t at = text.find('@');
  const std::string name = text.substr(0, at);
  const KindName* kind = nullptr;
  for (const KindName& k : kKinds)
    if (name == k.name) kind = &k;
  if (kind == nullptr) {
    *error = "bad --fault '" + text + "': no such fault (disk-full, power-loss, rtc-reset, " +
             "converter-ppm, overrun, stuck-bit, stall)";
    return false;
  }
  *fault = Fault{kind->kind, text};
  if (at == std::string::npos) return true;
  fault->placed = true;
  if (*kind->where == '\0' || !ParseWhere(text.substr(at + 1), fault)) {
    *error = "bad --fault '" + text + "': " +
             (*kind->where == '\0' ? std::string(kind->name) + " takes no place"
                                   : std::string(kind->name) + "@" + kind->where);
    return false;
  }
  return true;
}

std::string Placed(const Fault& f) {
  std::string s = NameOf(f.kind).name;
  if (f.kind == FaultKind::kRtcReset) return s;
  s += "@" + std::to_string(f.first);
  if (f.secondGiven) s += ":" + std::to_string(f.second);
  return s;
}

void FaultSchedule::Place(const RunShape& run) {
  std::mt19937_64 random(seed_);
  const auto upTo = [&](uint64_t n) {  // 0 .. n - 1, or 0
    return n == 0 ? int64_t{0} : static_cast<int64_t>(random() % n);
  };
  for (Fault& f : faults_) {
    if (f.placed || f.kind == FaultKind::kRtcReset) continue;
    f.placed = true;
    f.secondGiven = f.kind == FaultKind::kPowerLoss || f.kind == FaultKind::kOverrun ||
                    f.kind == FaultKind::kStuckBit;
    switch (f.kind) {
      case FaultKind::kDiskFull: f.first = upTo(run.writes * run.recordBytes); break;
      case FaultKind::kPowerLoss:
        f.first = 1 + upTo(run.writes);
        f.second = upTo(run.recordBytes + 1);
        break;
      case FaultKind::kConverterPpm: f.first = upTo(401) - 200; break;
      case FaultKind::kOverrun:
        f.first = upTo(run.frames);
        f.second = 17 + upTo(1000);
        break;
      case FaultKind::kStuckBit:
        f.first = upTo(24);
        f.second = upTo(2);
        break;
      default: f.first = upTo(run.frames); break;
    }
  }
  outcomes_.assign(faults_.size(), std::string());
}

uint32_t ConverterRateHz(uint32_t rateHz, const std::vector<Fault>& faults) {
  for (const Fault& f : faults) {
    if (f.kind != FaultKind::kConverterPpm) continue;
    const double rate = std::round(rateHz * (1.0 + static_cast<double>(f.first) * 1e-6));
    rateHz = rate < 1 ? 1 : static_cast<uint32_t>(rate);
  }
  return rateHz;
}

void FaultSchedule::SetUpBoard(sim::BoardOptions* options) const {
  options->frameRateHz = ConverterRateHz(options->frameRateHz, faults_);
  for (const Fault& f : faults_) {
    if (f.kind == FaultKind::kRtcReset) {
      // The true time goes on where the board's clock was to start.
      options->trueEpoch =
          options->clockEpoch ? *options->clockEpoch : sim::HostClockNanoseconds() / 1000000000;
      options->clockEpoch = kRtcEpoch;
    }
    if (f.kind == FaultKind::kStuckBit)
      options->signal = std::make_shared<sim::StuckBitSignal>(
          options->signal, static_cast<unsigned>(f.first), f.second != 0);
  }
}

void FaultSchedule::Fired(size_t index, const std::string& what) {
  outcomes_[index] = what;
  std::fflush(stdout);
  std::fprintf(stderr, "pelmok-daq fault: %s: %s\n", Placed(faults_[index]).c_str(), what.c_str());
  std::fflush(stderr);
}

void FaultSchedule::Arm(sim::Board& board, PowerLoss onPowerLoss) {
  onPowerLoss_ = onPowerLoss;
  if (outcomes_.size() != faults_.size()) outcomes_.assign(faults_.size(), std::string());
  std::vector<sim::Converter::Burst> bursts;
  for (size_t i = 0; i < faults_.size(); ++i) {
    const Fault& f = faults_[i];
    const uint64_t first = static_cast<uint64_t>(f.first);
    switch (f.kind) {
      case FaultKind::kRtcReset:
        Fired(i, "the board's clock starts at its epoch, " + std::to_string(board.Time()) +
                     " s since 1970 (2000-01-01T00:00:00Z)");
        break;
      case FaultKind::kConverterPpm:
        Fired(i, "the converter's clock makes " + std::to_string(board.converter().FrameRateHz()) +
                     " frames a second");
        break;
      case FaultKind::kStuckBit:
        Fired(i,
              "bit " + std::to_string(f.first) + " of every code is " + std::to_string(f.second));
        break;
      case FaultKind::kDiskFull:
        host::LimitVolumeBytes(f.first);
        break;  // strikes when a write fills it
      case FaultKind::kPowerLoss:
        host::CutPowerDuringWrite(static_cast<int>(f.first), f.second);
        break;
      case FaultKind::kOverrun: bursts.push_back({first, static_cast<uint64_t>(f.second)}); break;
      case FaultKind::kStall: bursts.push_back({first, 0}); break;
    }
  }
  std::stable_sort(bursts.begin(), bursts.end(),
                   [](const sim::Converter::Burst& a, const sim::Converter::Burst& b) {
                     return a.frame < b.frame;
                   });
  burstFault_.clear();
  for (const sim::Converter::Burst& b : bursts) {
    for (size_t i = 0; i < faults_.size(); ++i) {
      const Fault& f = faults_[i];
      const bool stall = f.kind == FaultKind::kStall, overrun = f.kind == FaultKind::kOverrun;
      if ((stall || overrun) && static_cast<uint64_t>(f.first) == b.frame &&
          (stall ? b.count == 0 : b.count == static_cast<uint64_t>(f.second)) &&
          std::find(burstFault_.begin(), burstFault_.end(), i) == burstFault_.end()) {
        burstFault_.push_back(i);
        break;
      }
    }
  }
  if (!bursts.empty()) board.converter().ScheduleBursts(bursts, HeardBurst, this);
  host::NoticeFileFaults(HeardFileFault, this);
}

void FaultSchedule::HeardBurst(const sim::Converter::Burst& burst, uint64_t lost, void* self) {
  FaultSchedule& s = *static_cast<FaultSchedule*>(self);
  if (s.burstFault_.empty()) return;
  const size_t index = s.burstFault_.front();
  s.burstFault_.erase(s.burstFault_.begin());
  if (burst.count == 0) {
    s.Fired(index, "the converter makes no frame after frame " + std::to_string(burst.frame));
  } else {
    s.Fired(index, std::to_string(burst.count) + " frames at once at frame " +
                       std::to_string(burst.frame) + "; the full receive FIFO lost " +
                       std::to_string(lost));
  }
}

void FaultSchedule::HeardFileFault(host::FileFault fault, const std::string& text, void* self) {
  FaultSchedule& s = *static_cast<FaultSchedule*>(self);
  const FaultKind kind =
      fault == host::FileFault::kDiskFull ? FaultKind::kDiskFull : FaultKind::kPowerLoss;
  for (size_t i = 0; i < s.faults_.size(); ++i) {
    if (s.faults_[i].kind != kind || !s.outcomes_[i].empty()) continue;
    s.Fired(i, text);
    break;
  }
  if (kind == FaultKind::kPowerLoss && s.onPowerLoss_ != nullptr) s.onPowerLoss_(text);
}

std::vector<std::string> FaultSchedule::Outcomes() const {
  std::vector<std::string> lines;
  for (size_t i = 0; i < faults_.size(); ++i) {
    const std::string placed = Placed(faults_[i]);
    const std::string how =
        faults_[i].given == placed || faults_[i].given.find('@') != std::string::npos
            ? ""
            : " (placed by seed " + std::to_string(seed_) + ")";
    lines.push_back(
        placed + how + ": " +
        (i < outcomes_.size() && !outcomes_[i].empty() ? outcomes_[i] : "did not strike"));
  }
  return lines;
}

}  // namespace daq
