// pelmok-daq --check as a planner: what the run will do on this device, write
// by write, by the same rules the host's file layer holds the run to (FAT's
// folder entries, its largest file, the volume's clusters), the read
// time-outs at the converter's rate, and the deployment's budget: bytes an
// hour, files, and how long until the first limit binds.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "acquisition/configuration.h"
#include "tools/pelmok-daq/fault_schedule.h"

namespace daq {

// What the bench's faults, as placed, change in the run.
struct PlannedFaults {
  int64_t volumeBytes = -1;           // disk-full: bytes the data volume takes; -1: no limit
  uint64_t powerLossWrite = 0;        // power-loss: the write it strikes, from 1; 0: none
  uint64_t powerLossBytes = 0;        // of that write, the bytes that reach the disk
  int64_t stallFrames = -1;           // stall: frames the converter makes; -1: no stall
  std::vector<std::string> harmless;  // faults that change no file, byte or time-out
};

// The faults as the run arms them: the last disk-full and power-loss given,
// the first stall.
PlannedFaults PlannedFaultsOf(const std::vector<Fault>& faults);

struct PlanInput {
  AcquisitionConfig config;
  uint32_t frameRateHz = 0;
  std::string dataDir;      // the data folder's host path
  bool bare = false;        // without --bare a missing data folder is laid out
  uint64_t volumeSize = 0;  // --volume-size; 0: the host disk's free room
  // The run's writes in order: the file name and the UTC second of each (the
  // first ones, as many as were worked out).
  std::vector<std::pair<std::string, int64_t>> names;
  uint64_t files = 0;  // the files those writes make
  PlannedFaults faults;
};

struct Plan {
  uint64_t writes = 0;         // writes the run makes
  uint64_t writesWhole = 0;    // that reach the disk whole
  uint64_t writesShort = 0;    // part of the record stored
  uint64_t writesRefused = 0;  // not written at all
  uint64_t bytesStored = 0;
  uint64_t filesMade = 0;  // data files the run creates
  uint64_t timedOutRecords = 0;
  double runSeconds = 0;
  // Data file names taken by entries the board cannot open (a link, a folder).
  std::vector<std::string> unopenable;
  std::string binding;        // "volume", "folder entries", "file size", "data folder", "data
                              // file", "power loss" or "the run's own end"
  uint64_t bindingWrite = 0;  // the first write it cuts (from 1), or the writes when none
  std::vector<std::string> warnings;
  std::vector<std::string> errors;
};

// The run's simulated seconds at the converter's rate, the read time-outs
// taken into account (records timed out in *timedOut when given): to the
// write the power fails in, reads past a stall timing out.
double PlanRunSeconds(const AcquisitionConfig& config, uint32_t frameRateHz,
                      uint64_t* timedOut = nullptr, const PlannedFaults& faults = PlannedFaults());

// Works the run out and prints its findings and budget to `out`.
Plan PlanDeployment(const PlanInput& input, FILE* out);

}  // namespace daq
