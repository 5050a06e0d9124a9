#include "sim/board.h"

#include <cmath>

#include "sim/converter.h"
#include "sim/pxa27x_ac97.h"
#include "sim/pxa27x_clock.h"
#include "sim/pxa27x_gpio.h"
#include "sim/pxa27x_ssp.h"
#include "sim/signal.h"

namespace sim {
namespace {
constexpr uint32_t kBlockSpan = RegisterBlock::kSpan;  // each block decodes 64 KB
}

Board::Board(const BoardOptions& options)
    : bus_(options.accessCost),
      epochNs_(options.clockEpoch ? *options.clockEpoch * 1000000000 : HostClockNanoseconds()),
      trueEpochNs_(options.trueEpoch ? *options.trueEpoch * 1000000000 : epochNs_),
      driftPpm_(options.clockDriftPpm),
      timeZone_(options.timeZone) {
  std::shared_ptr<SignalSource> signal =
      options.signal ? options.signal : MakeSignal("tone", options.frameRateHz, nullptr);

  gpio_ = std::make_unique<Pxa27xGpio>();
  clocks_ = std::make_unique<Pxa27xClockManager>();
  converter_ = std::make_unique<Converter>(options.frameRateHz, std::move(signal));
  converter_->StopAfter(options.stallAfterFrames);
  ssp3_ = std::make_unique<Pxa27xSsp>(bus_, *converter_);
  ac97_ = std::make_unique<Ac97Controller>(bus_);
  ssp3TestPort_ = std::make_unique<SspTestPort>(*ssp3_);

  bus_.Attach(kGpioBase, kBlockSpan, gpio_.get());
  bus_.Attach(kClockManagerBase, kBlockSpan, clocks_.get());
  bus_.Attach(kSsp3Base, kBlockSpan, ssp3_.get());
  bus_.Attach(kAc97Base, kBlockSpan, ac97_.get());

  // The board's wiring: SSP3's unit clock, and the converter's four signals
  // on GPIO 81..84. The port reacts to a change the moment it is made, so
  // the first frame is timed from the write that completed the set-up.
  clocks_->UnitClock("SSP3").Connect(ssp3_->UnitClock());
  gpio_->Pin(81).Connect(ssp3_->Pin("SSPSCLK3"));
  gpio_->Pin(82).Connect(ssp3_->Pin("SSPSFRM3"));
  gpio_->Pin(83).Connect(ssp3_->Pin("SSPRXD3"));
  gpio_->Pin(84).Connect(ssp3_->Pin("SSPTXD3"));
}

Board::~Board() = default;

int64_t Board::UtcNanoseconds() const {
  const int64_t elapsed = static_cast<int64_t>(bus_.Now());
  // Without drift the clock is virtual time exactly, to the nanosecond.
  if (driftPpm_ == 0) return epochNs_ + elapsed;
  return epochNs_ + elapsed + std::llround(static_cast<double>(elapsed) * driftPpm_ * 1e-6);
}

int64_t Board::Time() const {
  const int64_t ns = UtcNanoseconds();
  return ns / 1000000000 - (ns % 1000000000 < 0 ? 1 : 0);
}

}  // namespace sim
