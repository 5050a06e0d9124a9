#include "tools/common/device_configuration.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "hostlib/device_folder.h"
#include "hostlib/regular_file.h"
#include "tools/common/output_file.h"

namespace datatools {

void ReadDeviceConfiguration(const std::string& root, AcquisitionConfig* config,
                             std::string* console, ConfigurationObserver observer, void* context) {
  std::memset(config, 0, sizeof *config);
  const hostlib::DeviceFolder device(root, console);
  ObserveConfiguration(observer, context);
  ReadConfiguration(*config);
  ObserveConfiguration(nullptr, nullptr);
}

std::string ConfigurationFilePath(const std::string& root) {
  return root + "/FlashFX Disk/Pelmok/PelmokConfig.txt";
}

bool ReadConfigurationFile(const std::string& path, AcquisitionConfig* config, std::string* error) {
  const int in = hostlib::OpenRegularFile(path, O_RDONLY);
  if (in < 0) {
    *error = path + ": " + hostlib::OpenErrorText(errno);
    return false;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string root = std::string(tmp && *tmp ? tmp : "/tmp") + "/pelmok-config-XXXXXX";
  if (mkdtemp(root.data()) == nullptr) {
    *error = "cannot stage " + path + ": cannot make a scratch folder in " +
             (tmp && *tmp ? tmp : "/tmp") + ": " + std::strerror(errno);
    close(in);
    return false;
  }
  const std::string volume = root + "/FlashFX Disk", folder = volume + "/Pelmok";
  const std::string file = folder + "/PelmokConfig.txt";
  std::string reason;
  bool ok = mkdir(volume.c_str(), 0700) == 0 && mkdir(folder.c_str(), 0700) == 0;
  if (!ok) reason = std::strerror(errno);
  if (ok) {
    // Copied in blocks through the shared output mechanism, so a scratch
    // volume that fills up is a failure named as such, not a shorter file.
    OutputFile copy;
    ok = copy.Open(file, OutputPolicy{}, &reason);
    char buffer[65536];
    for (ssize_t got; ok && (got = read(in, buffer, sizeof buffer)) != 0;) {
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        reason = path + ": " + std::strerror(errno);
        ok = false;
      } else {
        copy.Write(buffer, static_cast<size_t>(got));
      }
    }
    ok = ok && copy.Commit(&reason);
  }
  close(in);
  std::string console;
  if (ok) ReadDeviceConfiguration(root, config, &console);
  unlink(file.c_str());
  rmdir(folder.c_str());
  rmdir(volume.c_str());
  rmdir(root.c_str());
  if (!ok) *error = "cannot stage " + path + " in a scratch folder: " + reason;
  return ok;
}

}  // namespace datatools
