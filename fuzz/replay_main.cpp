// Replays fuzz inputs without libFuzzer: every file named on the command line,
// and every file inside a named directory, is handed to the fuzz target once.
// Missing paths are skipped with a note, so optional corpora may be absent.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int RunFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int inputs = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path(argv[i]);
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
        if (entry.is_regular_file()) inputs += RunFile(entry.path());
      }
    } else if (std::filesystem::is_regular_file(path, error)) {
      inputs += RunFile(path);
    } else {
      std::printf("skipped (absent): %s\n", argv[i]);
    }
  }
  std::printf("replayed %d inputs\n", inputs);
  return 0;
}
