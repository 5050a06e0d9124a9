#include "platform/host/fat_volume.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "platform/host/host.h"

namespace host {
namespace fat {

namespace {
constexpr uint64_t kEntryBytes = 32;
constexpr uint64_t kLongNameCharacters = 13;
constexpr uint64_t kReservedBytes = 32ULL * 512;      // FAT32's reserved sectors
constexpr uint64_t kTableBytesPerCluster = 2ULL * 4;  // two tables, 4 bytes a cluster each

bool IsShortNameCharacter(unsigned char c) {
  return std::isupper(c) || std::isdigit(c) || std::strchr("!#$%&'()-@^_`{}~", c) != nullptr ||
         c > 127;
}

bool IsShortPart(const std::string& part, size_t longest) {
  return !part.empty() && part.size() <= longest &&
         std::all_of(part.begin(), part.end(),
                     [](char c) { return IsShortNameCharacter(static_cast<unsigned char>(c)); });
}
}  // namespace

uint64_t EntriesOf(const std::string& name) {
  const size_t dot = name.find('.');
  const bool shortName = dot == std::string::npos
                             ? IsShortPart(name, 8)
                             : IsShortPart(name.substr(0, dot), 8) &&
                                   (dot + 1 == name.size() || IsShortPart(name.substr(dot + 1), 3));
  if (shortName) return 1;
  return 1 + (name.size() + kLongNameCharacters - 1) / kLongNameCharacters;
}

uint64_t FolderEntries(const std::string& hostFolder, bool volumeRoot) {
  uint64_t entries = volumeRoot ? 0 : 2;  // "." and ".."
  DIR* dir = opendir(hostFolder.c_str());
  if (dir == nullptr) return entries;
  while (const dirent* e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    entries += EntriesOf(e->d_name);
  }
  closedir(dir);
  return entries;
}

// Microsoft's default FAT32 cluster sizes by volume size.
uint64_t ClusterBytesFor(uint64_t volumeBytes) {
  const uint64_t mib = uint64_t{1} << 20, gib = uint64_t{1} << 30;
  if (volumeBytes <= 64 * mib) return 512;
  if (volumeBytes <= 128 * mib) return 1024;
  if (volumeBytes <= 256 * mib) return 2048;
  if (volumeBytes <= 8 * gib) return 4096;
  if (volumeBytes <= 16 * gib) return 8192;
  if (volumeBytes <= 32 * gib) return 16384;
  return 32768;
}

uint64_t ClustersOf(uint64_t volumeBytes) {
  if (volumeBytes <= kReservedBytes) return 0;
  return (volumeBytes - kReservedBytes) / (ClusterBytesFor(volumeBytes) + kTableBytesPerCluster);
}

uint64_t FileClusters(uint64_t bytes, uint64_t clusterBytes) {
  return (bytes + clusterBytes - 1) / clusterBytes;
}

uint64_t FolderClusters(uint64_t entries, uint64_t clusterBytes) {
  const uint64_t clusters = FileClusters(entries * kEntryBytes, clusterBytes);
  return clusters == 0 ? 1 : clusters;
}

uint64_t ClustersUsed(const std::string& hostFolder, uint64_t clusterBytes) {
  // The volume's root folder is a cluster chain like any other on FAT32.
  std::vector<std::pair<std::string, bool>> folders{{hostFolder, true}};
  uint64_t used = 0;
  while (!folders.empty()) {
    const auto [folder, volumeRoot] = folders.back();
    folders.pop_back();
    used += FolderClusters(FolderEntries(folder, volumeRoot), clusterBytes);
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) continue;
    while (const dirent* e = readdir(dir)) {
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
      const std::string path = folder + '/' + e->d_name;
      struct stat st;
      if (lstat(path.c_str(), &st) != 0) continue;
      if (S_ISDIR(st.st_mode)) folders.emplace_back(path, false);
      if (S_ISREG(st.st_mode))
        used += FileClusters(static_cast<uint64_t>(st.st_size), clusterBytes);
    }
    closedir(dir);
  }
  return used;
}

}  // namespace fat

namespace {

struct DataVolume {
  std::string prefix;         // "<root>/Hard Disk/" as the folder spells it
  uint64_t clusterBytes = 0;  // 0: no size given
  uint64_t clustersFree = 0;
};
DataVolume dataVolume;

// The entry of `folder` that FAT takes `name` for (names match without
// regard to case); "" when none does; a refusal when two do.
std::string EntryNamed(const std::string& folder, const std::string& name, std::string* refusal) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return std::string();
  std::string found;
  while (const dirent* entry = readdir(dir)) {
    if (strcasecmp(entry->d_name, name.c_str()) != 0) continue;
    if (!found.empty()) {
      *refusal = folder;
      *refusal += " holds both " + found + " and " + entry->d_name;
      *refusal += ", names that differ only in case, which no FAT folder can hold together";
      break;
    }
    found = entry->d_name;
  }
  closedir(dir);
  return found;
}

}  // namespace

ResolvedPath ResolveDevicePath(const char* devicePath) {
  ResolvedPath r;
  if (devicePath == nullptr || devicePath[0] != '\\') {
    r.refusal = std::string("not a device path: ") + (devicePath ? devicePath : "(none)");
    return r;
  }
  std::string path = DeviceRoot();
  bool exists = true;
  const char* part = devicePath + 1;
  for (const char* end = part;; part = end + 1) {
    end = std::strchr(part, '\\');
    const std::string name(part, end ? static_cast<size_t>(end - part) : std::strlen(part));
    if (!name.empty()) {
      // Past a refusal the path is only named, for the message.
      const std::string entry =
          exists && r.refusal.empty() ? EntryNamed(path, name, &r.refusal) : "";
      exists = exists && !entry.empty();
      path += '/' + (exists ? entry : name);
      struct stat st;
      if (exists && r.refusal.empty() && lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        r.refusal = path + " is a symbolic link, which no FAT volume holds";
    }
    if (end == nullptr) break;
  }
  if (devicePath[std::strlen(devicePath) - 1] == '\\') path += '/';
  r.hostPath = path;
  r.exists = exists;
  return r;
}

void SetDataVolumeSize(uint64_t bytes) {
  const ResolvedPath volume = ResolveDevicePath("\\Hard Disk\\");
  dataVolume = DataVolume();
  dataVolume.prefix = volume.hostPath;
  if (bytes == 0 || volume.hostPath.empty()) return;
  dataVolume.clusterBytes = fat::ClusterBytesFor(bytes);
  const uint64_t clusters = fat::ClustersOf(bytes);
  const uint64_t used = fat::ClustersUsed(volume.hostPath, dataVolume.clusterBytes);
  dataVolume.clustersFree = used < clusters ? clusters - used : 0;
}

bool OnDataVolume(const std::string& hostPath) {
  const std::string prefix =
      dataVolume.prefix.empty() ? ResolveDevicePath("\\Hard Disk\\").hostPath : dataVolume.prefix;
  return !prefix.empty() && hostPath.compare(0, prefix.size(), prefix) == 0;
}

uint64_t TakeVolumeRoom(uint64_t fileBytes, uint64_t bytes) {
  const uint64_t c = dataVolume.clusterBytes;
  if (c == 0) return bytes;
  const uint64_t slack = fat::FileClusters(fileBytes, c) * c - fileBytes;
  const uint64_t room = slack + dataVolume.clustersFree * c;
  const uint64_t fits = bytes < room ? bytes : room;
  const uint64_t taken = fat::FileClusters(fileBytes + fits, c) - fat::FileClusters(fileBytes, c);
  dataVolume.clustersFree -= taken;
  return fits;
}

bool TakeFolderEntry(const std::string& hostFolder, const std::string& name, bool volumeRoot) {
  const uint64_t before = fat::FolderEntries(hostFolder, volumeRoot);
  const uint64_t after = before + fat::EntriesOf(name);
  if (after > fat::kMaxFolderEntries) return false;
  const uint64_t c = dataVolume.clusterBytes;
  if (c == 0 || !OnDataVolume(hostFolder + '/')) return true;
  const uint64_t grows = fat::FolderClusters(after, c) - fat::FolderClusters(before, c);
  if (grows > dataVolume.clustersFree) return false;
  dataVolume.clustersFree -= grows;
  return true;
}

}  // namespace host
