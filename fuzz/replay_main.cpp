// Runs a fuzz target over every file of its seed corpus, outside libFuzzer: the seeds
// are then an ordinary test in every build, with any compiler.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> inputs_in(const std::filesystem::path& path) {
  if (!std::filesystem::is_directory(path)) return {path};
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

void replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  // A buffer of exactly the input's size, as libFuzzer passes it, so that a read past
  // its end is caught under AddressSanitizer here too.
  const auto copy = std::make_unique<std::uint8_t[]>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), copy.get());
  std::fprintf(stderr, "%s\n", file.string().c_str());
  LLVMFuzzerTestOneInput(copy.get(), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_FOLDER_OR_FILE...\n", argv[0]);
    return 2;
  }
  std::size_t count = 0;
  for (const std::filesystem::path path : std::vector<std::string>(argv + 1, argv + argc)) {
    for (const auto& file : inputs_in(path)) {
      replay(file);
      ++count;
    }
  }
  // An empty or misspelt corpus folder must not pass as a clean run.
  if (count == 0) {
    std::fprintf(stderr, "no input to replay\n");
    return 1;
  }
  std::printf("%zu inputs replayed without a finding\n", count);
  return 0;
}
