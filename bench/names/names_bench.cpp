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

// A name file in a folder beside the build, on the same disk the program would use,
// with the name file and the profile routines around it.
struct BenchNames {
  static std::filesystem::path make_folder() {
    std::string pattern = (std::filesystem::current_path() / "names_bench_XXXXXX").string();
    return mkdtemp(pattern.data());
  }
  ~BenchNames() { std::filesystem::remove_all(folder); }

  void write_default_file() { replace_file_atomically(names.path(), default_name_text()); }

  std::filesystem::path folder = make_folder();
  SilentMessages messages;
  Module2 module2{messages};
  NullView view;
  NameFile names{folder / "name.txt", module2, messages, view};
};

void create_default_file(benchmark::State& state) {
  BenchNames bench;
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(bench.names.path());
    state.ResumeTiming();
    bench.names.init_name_file();
  }
}
BENCHMARK(create_default_file)->Unit(benchmark::kMillisecond);

void load_names_of_address_255(benchmark::State& state) {
  BenchNames bench;
  bench.write_default_file();
  for (auto _ : state) bench.names.load_names("255");
}
BENCHMARK(load_names_of_address_255)->Unit(benchmark::kMicrosecond);

void write_one_name(benchmark::State& state) {
  BenchNames bench;
  bench.write_default_file();
  int round = 0;
  for (auto _ : state) {
    // A new value each time, so that every round really rewrites the file.
    bench.module2.write_ini(bench.names.path(), "address 128", "relay8name",
                            "pump " + std::to_string(++round));
  }
}
BENCHMARK(write_one_name)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
