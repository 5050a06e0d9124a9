// The host side of the platform layer: what a host program or a test sets up
// before it calls into the system, and the back doors the tests use. The
// system itself never includes this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {
class Board;
}

namespace host {

// The platform's register accessors and clock rest on this board. nullptr
// detaches it; a register access with no board attached is a fault.
void AttachBoard(sim::Board* board);
sim::Board* AttachedBoard();

// The folder that stands for the device: "\Hard Disk\x" opens
// "<root>/Hard Disk/x".
void SetDeviceRoot(const std::string& root);
const std::string& DeviceRoot();
// The host path a device path ("\\FlashFX Disk\\Pelmok\\PelmokConfig.txt")
// opens: each part matched without regard to case, as on the board's FAT
// volumes (fat_volume.h). Empty for a path that is not absolute, that matches
// two entries of a folder or that passes a symbolic link.
std::string HostPathOf(const char* devicePath);

// File faults, for tests of what the system reports after a failed write.
// While any is set, device files open as streams that count each operation
// (open, read, write, seek, close, truncate) inside the stdio calls the system makes;
// otherwise they are plain files. Counting starts at 0 with each call.
void CountFileOperations();
// The operation after the next `successes` fails (an open returns NULL, the
// others report an error and move no data); with `persistent` every later
// one fails too.
void FailFileOperationAfter(int successes, bool persistent);
// A volume with `bytes` left in all: a write beyond it stores what fits and
// fails with ENOSPC.
void LimitVolumeBytes(long long bytes);
// The power fails during the `write`-th opening of a data file for writing
// (from 1), once `bytes` of what is written to it have reached the disk (at
// its close when the record is shorter). 0 turns it off.
void CutPowerDuringWrite(int write, long long bytes);
int FileOperationCount();
// Turns the counting and every file fault off.
void ClearFileFaults();
// Told when an injected file fault strikes: the volume fills, the power
// fails. The power-loss notice is where a host program ends its run; if it
// returns, the write goes on.
enum class FileFault { kDiskFull, kPowerLoss };
using FileFaultNotice = void (*)(FileFault fault, const std::string& text, void* context);
void NoticeFileFaults(FileFaultNotice notice, void* context);

// Each opening of a device file for writing, as the file layer sees it: the
// host path, whether the file existed, its size then, whether it opened (and
// why not, in one line), the attached board's clock and the true time then
// (UTC nanoseconds; they differ when the board's clock drifts or was reset).
// What the write added shows at the next opening or after the run. A null
// observer stops the reports.
struct DeviceFileWrite {
  std::string path;
  bool existed;
  long long bytesBefore;
  bool opened;
  std::string refusal;
  int64_t utcNanoseconds;
  int64_t trueUtcNanoseconds;
};
using DeviceFileWriteObserver = void (*)(const DeviceFileWrite& write, void* context);
void ObserveDeviceFileWrites(DeviceFileWriteObserver observer, void* context);

// Debug console text goes to standard error unless captured here; nullptr
// ends the capture.
void CaptureConsole(std::string* sink);
// Hears each message the program prints, before it goes where it goes, so a
// host tool can follow the run as the console tells it; nullptr stops it.
using ConsoleListener = void (*)(const std::string& message, void* context);
void ListenToConsole(ConsoleListener listener, void* context);

// Makes the call after the next `successes` successful calls fail; -1 never.
void FailVirtualAllocAfter(int successes);
void FailVirtualCopyAfter(int successes);

struct Reservation {
  uintptr_t start;
  size_t size;
  bool bound;
  uint32_t physicalBase;  // valid when bound
};
// Reservations currently held, in the order they were made.
std::vector<Reservation> Reservations();

// Frees every reservation and clears injected failures, for a clean test.
void ResetKernel();

}  // namespace host
