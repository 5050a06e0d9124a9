// A simulated PXA27x board: the physical bus with the device models the
// program touches, laid out at the processor's addresses, the converter
// wired to SSP3, and the board's wall clock.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "hostlib/time_zone.h"
#include "sim/board_clock.h"
#include "sim/bus.h"

namespace sim {

class Pxa27xGpio;
class Pxa27xSsp;
class SspTestPort;
class Pxa27xClockManager;
class Ac97Controller;
class Converter;
class SignalSource;

constexpr uint32_t kGpioBase = 0x40E00000;
constexpr uint32_t kSsp3Base = 0x41900000;
constexpr uint32_t kClockManagerBase = 0x41300000;
constexpr uint32_t kAc97Base = 0x40500000;

struct BoardOptions {
  uint32_t frameRateHz = 100000;
  Nanoseconds accessCost = kDefaultAccessCost;
  std::shared_ptr<SignalSource> signal;  // nullptr: the default tone
  // The board's clock (UTC seconds since 1970) at virtual time 0; unset takes
  // the host's wall clock when the board is made. Data file names come from
  // this clock plus virtual time, so a run names its files as the board would,
  // however fast the host is.
  std::optional<int64_t> clockEpoch;
  // The true UTC at virtual time 0 when the board's clock was not set from
  // it (a clock reset to its epoch); unset: the board's clock is true at 0.
  std::optional<int64_t> trueEpoch;
  // The board's real-time clock runs fast (positive) or slow against true
  // time by this many parts per million, as a crystal off its frequency does.
  double clockDriftPpm = 0;
  hostlib::TimeZoneSetting timeZone;  // UTC unless set
  // The converter dies after this many frames (Converter::StopAfter).
  uint64_t stallAfterFrames = ~uint64_t{0};
};

class Board {
 public:
  explicit Board(const BoardOptions& options = BoardOptions());
  ~Board();
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  Bus& bus() { return bus_; }
  Pxa27xGpio& gpio() { return *gpio_; }
  Pxa27xSsp& ssp3() { return *ssp3_; }
  // SSP3's test backdoors (inject, stall, overrun), apart from its bus side.
  SspTestPort& ssp3TestPort() { return *ssp3TestPort_; }
  Pxa27xClockManager& clocks() { return *clocks_; }
  Ac97Controller& ac97() { return *ac97_; }
  Converter& converter() { return *converter_; }

  // The board's wall clock: epoch plus virtual time (run fast or slow by its
  // drift), in nanoseconds and in whole seconds since 1970-01-01 00:00 UTC.
  int64_t UtcNanoseconds() const;
  int64_t Time() const;
  // The true UTC now, against which the board's clock drifts.
  int64_t TrueUtcNanoseconds() const { return trueEpochNs_ + static_cast<int64_t>(bus_.Now()); }
  // The device's time-zone setting, as SetTimeZoneInformation would change it.
  const hostlib::TimeZoneSetting& timeZone() const { return timeZone_; }
  void SetTimeZone(const hostlib::TimeZoneSetting& zone) { timeZone_ = zone; }

 private:
  Bus bus_;
  int64_t epochNs_;
  int64_t trueEpochNs_;
  double driftPpm_;
  hostlib::TimeZoneSetting timeZone_;
  std::unique_ptr<Pxa27xGpio> gpio_;
  std::unique_ptr<Pxa27xClockManager> clocks_;
  std::unique_ptr<Converter> converter_;
  std::unique_ptr<Pxa27xSsp> ssp3_;
  std::unique_ptr<Ac97Controller> ac97_;
  std::unique_ptr<SspTestPort> ssp3TestPort_;
};

}  // namespace sim
