// A fuzz target's seeds replayed without libFuzzer, so that a compiler
// without it (the host build's GCC) still runs each target's corpus as a
// test: every file named, or held by a folder named, goes once through
// LLVMFuzzerTestOneInput. Options (libFuzzer's "-runs=0") are passed over.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

// Returns false when the file cannot be read.
bool Replay(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes;
  if (in) bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in) {
    std::fprintf(stderr, "%s: cannot be read\n", path.c_str());
    return false;
  }
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-') continue;
    std::error_code error;
    std::vector<fs::path> files;
    if (fs::is_directory(argv[i], error)) {
      for (const fs::directory_entry& entry : fs::directory_iterator(argv[i], error))
        if (entry.is_regular_file()) files.push_back(entry.path());
    } else {
      files.emplace_back(argv[i]);
    }
    if (error) {
      std::fprintf(stderr, "%s: %s\n", argv[i], error.message().c_str());
      return 1;
    }
    for (const fs::path& file : files)
      if (!Replay(file)) return 1;
    replayed += files.size();
  }
  std::printf("%zu seeds replayed\n", replayed);
  return replayed > 0 ? 0 : 1;
}
