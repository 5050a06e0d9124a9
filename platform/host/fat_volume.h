// The board's volumes are FAT32: names match without regard to case, there
// are no links, a folder holds at most 65,536 directory entries, a file at
// most 4 GiB - 1 bytes, and a volume has a size. The host folders that stand
// for the volumes are held to the same rules here, so that where the board's
// call would fail the host's fails the same way.
#pragma once

#include <cstdint>
#include <string>

namespace host {
namespace fat {

constexpr uint64_t kMaxFileBytes = 0xFFFFFFFFull;
constexpr uint64_t kMaxFolderEntries = 65536;

// Directory entries `name` takes in a folder: one for a short (8.3) name in
// upper case, otherwise one short entry plus one long-name entry for each 13
// characters.
uint64_t EntriesOf(const std::string& name);

// Entries a folder of the device holds, as FAT counts them: each name's,
// plus "." and ".." below a volume's root folder. `hostFolder` must exist.
uint64_t FolderEntries(const std::string& hostFolder, bool volumeRoot);

// A volume of `bytes`: its cluster size as FAT32 formats it by default, and
// the clusters left for files and folders once the reserved sectors and the
// two tables are taken.
uint64_t ClusterBytesFor(uint64_t volumeBytes);
uint64_t ClustersOf(uint64_t volumeBytes);
// Clusters a file of `bytes` takes, or a folder of `entries`.
uint64_t FileClusters(uint64_t bytes, uint64_t clusterBytes);
uint64_t FolderClusters(uint64_t entries, uint64_t clusterBytes);
// Clusters the files and folders under `hostFolder` (a volume's folder)
// take on a volume of that cluster size.
uint64_t ClustersUsed(const std::string& hostFolder, uint64_t clusterBytes);

}  // namespace fat

// A device path ("\Hard Disk\Pelmok\Data\x") as the host takes it: each
// part that exists as the folder spells it, matched without regard to case;
// the missing rest as written. `refusal` is one line saying why no FAT volume
// could hold the path (two names of one folder that differ only in case, a
// symbolic link), and then the path opens nothing (hostPath still names it).
struct ResolvedPath {
  std::string hostPath;
  std::string refusal;
  bool exists = false;
};
ResolvedPath ResolveDevicePath(const char* devicePath);

// The Hard Disk volume's size in bytes (0: as large as the host's disk). Its
// free clusters are counted from the files under it when this is called.
void SetDataVolumeSize(uint64_t bytes);
// The data volume's host folder prefix ("<root>/Hard Disk/"), as resolved.
bool OnDataVolume(const std::string& hostPath);
// Bytes of a write that fit on the data volume when a file of `fileBytes`
// grows by `bytes`; the clusters they take are counted as used.
uint64_t TakeVolumeRoom(uint64_t fileBytes, uint64_t bytes);
// Whether a new entry named `name` fits in the folder, and its clusters.
bool TakeFolderEntry(const std::string& hostFolder, const std::string& name, bool volumeRoot);

}  // namespace host
