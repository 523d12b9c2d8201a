// Timings of the name file: its creation on first start, the 16 reads of one address
// change, and one rename written and flushed to disk.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "names/default_name_text.h"
#include "names/disk_file.h"
#include "names/module2.h"
#include "names/name_file.h"

namespace {

class SilentMessages : public MessageBoxes {
 public:
  void show(const Message&) override {}
};

class NullView : public NameView {
 public:
  void set_window_caption(const std::string&) override {}
  void set_name_label(int, const std::string& name) override { benchmark::DoNotOptimize(name); }
};

// A folder beside the build, on the same disk the program would use.
class BenchFolder {
 public:
  BenchFolder() {
    std::string pattern = (std::filesystem::current_path() / "names_bench_XXXXXX").string();
    path = mkdtemp(pattern.data());
  }
  ~BenchFolder() { std::filesystem::remove_all(path); }
  std::filesystem::path path;
};

void create_default_file(benchmark::State& state) {
  BenchFolder folder;
  SilentMessages messages;
  Module2 module2(messages);
  NullView view;
  NameFile names(folder.path / "name.txt", module2, messages, view);
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(names.path());
    state.ResumeTiming();
    names.init_name_file();
  }
}
BENCHMARK(create_default_file)->Unit(benchmark::kMillisecond);

void load_names_of_address_255(benchmark::State& state) {
  BenchFolder folder;
  SilentMessages messages;
  Module2 module2(messages);
  NullView view;
  NameFile names(folder.path / "name.txt", module2, messages, view);
  replace_file_atomically(names.path(), default_name_text());
  for (auto _ : state) names.load_names("255");
}
BENCHMARK(load_names_of_address_255)->Unit(benchmark::kMicrosecond);

void write_one_name(benchmark::State& state) {
  BenchFolder folder;
  SilentMessages messages;
  Module2 module2(messages);
  const auto path = folder.path / "name.txt";
  replace_file_atomically(path, default_name_text());
  int round = 0;
  for (auto _ : state) {
    // A new value each time, so that every round really rewrites the file.
    module2.write_ini(path, "address 128", "relay8name", "pump " + std::to_string(++round));
  }
}
BENCHMARK(write_one_name)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
