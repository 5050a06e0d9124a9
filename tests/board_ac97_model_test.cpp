#include "sim/pxa27x_ac97.h"

#include <gtest/gtest.h>

#include "hardware/pxa27x_ac97_regs.h"
#include "tests/test_support.h"

namespace {

constexpr uint32_t kGsr = kAc97Phys + GSR;
constexpr uint32_t kGcr = kAc97Phys + GCR;
constexpr uint32_t kPowerdown = kAc97Phys + kPrimaryCodecPowerdown;
const uint32_t kMasterVolume = kAc97Phys + PrimaryCodecRegister(0x02);

class Ac97ModelTest : public testsupport::BoardTest {
 protected:
  sim::Ac97Controller& ac97() { return board().ac97(); }

  // Reads GSR until `bit` shows, at most 1000 reads; the bus time of the
  // first read that showed it, or 0 if it never did.
  sim::Nanoseconds PollGsr(uint32_t bit) {
    for (int i = 0; i < 1000; ++i) {
      if (bus().Read32(kGsr) & bit) return bus().Now();
    }
    return 0;
  }
};

TEST_F(Ac97ModelTest, CodecWriteCompletesOneFrameLater) {
  // After boot: link up, codec ready and fully powered, no command done yet.
  EXPECT_EQ(bus().Read32(kGsr) & (GSR_PCR | GSR_CDONE), GSR_PCR);
  bus().Write32(kPowerdown, 0x1000);
  const sim::Nanoseconds written = bus().Now();
  EXPECT_EQ(bus().Read32(kAc97Phys + CAR) & CAR_CAIP, CAR_CAIP);
  // CDONE is first seen by the first read at or after one frame.
  const sim::Nanoseconds done = PollGsr(GSR_CDONE);
  EXPECT_GE(done, written + sim::Ac97Controller::kCodecCommandNs);
  EXPECT_LT(done, written + sim::Ac97Controller::kCodecCommandNs + bus().AccessCost());
  // Sticky until written 1; the codec holds PR4 with its ready flags intact.
  bus().Advance(10 * sim::Ac97Controller::kFrameNs);
  EXPECT_NE(bus().Read32(kGsr) & GSR_CDONE, 0u);
  bus().Write32(kGsr, GSR_CDONE);
  EXPECT_EQ(bus().Read32(kGsr) & GSR_CDONE, 0u);
  EXPECT_EQ(ac97().CodecRegister(AC97_POWERDOWN), 0x100F);
}

TEST_F(Ac97ModelTest, CodecReadReturnsThePreviousReadsData) {
  // No read before: the first returns nothing of the register's.
  EXPECT_EQ(bus().Read32(kPowerdown), 0u);
  const sim::Nanoseconds started = bus().Now();
  const sim::Nanoseconds done = PollGsr(GSR_SDONE);
  EXPECT_GE(done, started + sim::Ac97Controller::kCodecStatusNs);
  EXPECT_LT(done, started + sim::Ac97Controller::kCodecStatusNs + bus().AccessCost());
  // The next read returns the first one's data and fetches its own register.
  EXPECT_EQ(bus().Read32(kMasterVolume), 0x000Fu);
  bus().Write32(kGsr, GSR_SDONE);
  EXPECT_EQ(bus().Read32(kGsr) & GSR_SDONE, 0u);
  PollGsr(GSR_SDONE);
  EXPECT_EQ(bus().Read32(kPowerdown), 0x8000u);
}

TEST_F(Ac97ModelTest, LinkShutOffAndCommandsOverADeadLink) {
  bus().Write32(kGcr, bus().Read32(kGcr) | GCR_ACLINK_OFF);
  const sim::Nanoseconds requested = bus().Now();
  const sim::Nanoseconds off = PollGsr(GSR_ACOFFD);
  EXPECT_GE(off, requested + sim::Ac97Controller::kLinkOffNs);
  EXPECT_LT(off, requested + sim::Ac97Controller::kLinkOffNs + bus().AccessCost());
  // With the link off a codec write never completes and never reaches the codec.
  bus().Write32(kMasterVolume, 0x0000);
  bus().Advance(100 * sim::Ac97Controller::kFrameNs);
  EXPECT_EQ(bus().Read32(kGsr) & GSR_CDONE, 0u);
  EXPECT_EQ(ac97().CodecRegister(0x02), 0x8000);
  // Link back on: ACOFFD drops at once.
  bus().Write32(kGcr, bus().Read32(kGcr) & ~GCR_ACLINK_OFF);
  EXPECT_EQ(bus().Read32(kGsr) & GSR_ACOFFD, 0u);
}

TEST_F(Ac97ModelTest, HeldStatusBitNeverRisesUntilReleased) {
  sim::Ac97TestPort(ac97()).HoldStatusLow(GSR_CDONE);
  bus().Write32(kMasterVolume, 0x0808);
  bus().Advance(100 * sim::Ac97Controller::kFrameNs);
  EXPECT_EQ(bus().Read32(kGsr) & GSR_CDONE, 0u);
  sim::Ac97TestPort(ac97()).HoldStatusLow(0);
  EXPECT_NE(bus().Read32(kGsr) & GSR_CDONE, 0u);
}

TEST_F(Ac97ModelTest, OneCodecAccessOnTheLinkAtATime) {
  sim::Ac97TestPort port(ac97());
  // A write 1 us after a read, while the read is still on the link, is lost:
  // it never reaches the codec and no CDONE comes for it.
  bus().Read32(kPowerdown);
  const sim::Nanoseconds readAt = bus().Now();
  bus().Advance(1000);
  bus().Write32(kPowerdown, 0x0100);
  EXPECT_EQ(port.LostAccesses(), 1u);
  EXPECT_EQ(bus().Read32(kAc97Phys + CAR) & CAR_CAIP, CAR_CAIP);
  EXPECT_GE(PollGsr(GSR_SDONE), readAt + sim::Ac97Controller::kCodecStatusNs);
  bus().Advance(10 * sim::Ac97Controller::kFrameNs);
  EXPECT_EQ(bus().Read32(kGsr) & GSR_CDONE, 0u);
  EXPECT_EQ(ac97().CodecRegister(AC97_POWERDOWN), 0x000F);
  // Once SDONE is up the link is free: CAIP is clear and the write goes out.
  EXPECT_EQ(bus().Read32(kAc97Phys + CAR) & CAR_CAIP, 0u);
  bus().Write32(kAc97Phys + CAR, 0);  // give back the claim that read made
  bus().Write32(kPowerdown, 0x0100);
  EXPECT_NE(PollGsr(GSR_CDONE), 0);
  // ADC powered down (PR0), its ready flag gone.
  EXPECT_EQ(ac97().CodecRegister(AC97_POWERDOWN), 0x010E);
  // A read during a write is lost too: it returns what the controller holds
  // (the first read's data, 0x000F) and brings no SDONE.
  bus().Write32(kGsr, GSR_CDONE | GSR_SDONE);
  bus().Write32(kMasterVolume, 0x0808);
  EXPECT_EQ(bus().Read32(kPowerdown), 0x000Fu);
  EXPECT_EQ(port.LostAccesses(), 2u);
  bus().Advance(10 * sim::Ac97Controller::kFrameNs);
  EXPECT_EQ(bus().Read32(kGsr) & (GSR_CDONE | GSR_SDONE), GSR_CDONE);
  EXPECT_EQ(ac97().CodecRegister(0x02), 0x0808);
}

TEST_F(Ac97ModelTest, CarReadClaimsTheCodecUntilGivenBack) {
  EXPECT_EQ(bus().Read32(kAc97Phys + CAR) & CAR_CAIP, 0u);
  bus().Advance(10 * sim::Ac97Controller::kFrameNs);
  EXPECT_EQ(bus().Read32(kAc97Phys + CAR) & CAR_CAIP, CAR_CAIP);
  bus().Write32(kAc97Phys + CAR, 0);
  EXPECT_EQ(bus().Read32(kAc97Phys + CAR) & CAR_CAIP, 0u);
  // The claimant's own access is no second access: it goes out.
  bus().Write32(kMasterVolume, 0x0404);
  EXPECT_NE(PollGsr(GSR_CDONE), 0);
  EXPECT_EQ(ac97().CodecRegister(0x02), 0x0404);
  EXPECT_EQ(sim::Ac97TestPort(ac97()).LostAccesses(), 0u);
}

}  // namespace
