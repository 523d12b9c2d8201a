// Timings of the name file: its creation on first start, the 16 reads of one address
// change, and one rename written and flushed to disk. Google Benchmark in the whole
// build; in a build of the core alone (for Windows, where Google Benchmark is not
// built) the same three operations timed by a plain loop.
#ifndef NAMES_BENCH_HAND_TIMED
#include <benchmark/benchmark.h>
#endif

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "names/default_name_text.h"
#include "names/disk_file.h"
#include "names/name_file.h"
#include "names/profile_store.h"

namespace {

class SilentMessages : public MessageBoxes {
 public:
  void show(const Message&) override {}
};

class NullView : public NameView {
 public:
  void set_window_caption(const std::string&) override {}
  void set_name_label(int, const std::string& name) override { last_name = name; }
  std::string last_name;
};

// A name file in a folder beside the build, on the same disk the program would use,
// with the name file and the profile routines around it.
struct BenchNames {
  static std::filesystem::path make_folder() {
    std::random_device seed;
    for (;;) {
      const auto path = std::filesystem::current_path() / ("names_bench_" + std::to_string(seed()));
      if (std::filesystem::create_directory(path)) return path;
    }
  }
  ~BenchNames() { std::filesystem::remove_all(folder); }

  void write_default_file() { replace_file_atomically(names.path(), default_name_text()); }
  void remove_file() { std::filesystem::remove(names.path()); }
  void create() { names.open_or_create(); }
  void load() { names.load_names("255"); }
  // A new value each time, so that every round really rewrites the file.
  void write() {
    profile_store.write_value(names.path(), "address 128", "relay8name",
                              "pump " + std::to_string(++round));
  }

  std::filesystem::path folder = make_folder();
  SilentMessages messages;
  ProfileStore profile_store;
  NullView view;
  NameFile names{folder / "name.txt", profile_store, messages, view};
  int round = 0;
};

#ifndef NAMES_BENCH_HAND_TIMED

void create_default_file(benchmark::State& state) {
  BenchNames bench;
  for (auto _ : state) {
    state.PauseTiming();
    bench.remove_file();
    state.ResumeTiming();
    bench.create();
  }
}
BENCHMARK(create_default_file)->Unit(benchmark::kMillisecond);

void load_names_of_address_255(benchmark::State& state) {
  BenchNames bench;
  bench.write_default_file();
  for (auto _ : state) {
    bench.load();
    benchmark::DoNotOptimize(bench.view.last_name);
  }
}
BENCHMARK(load_names_of_address_255)->Unit(benchmark::kMicrosecond);

void write_one_name(benchmark::State& state) {
  BenchNames bench;
  bench.write_default_file();
  for (auto _ : state) bench.write();
}
BENCHMARK(write_one_name)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

#else

using Clock = std::chrono::steady_clock;

// Runs `operation` for at least 20 rounds and half a second, `prepare` untimed before
// each, and prints the mean time of one round in `unit`s.
template <class Prepare, class Operation>
void time_rounds(const char* name, const char* unit, double unit_ns, Prepare prepare,
                 Operation operation) {
  Clock::duration timed{};
  int rounds = 0;
  const auto end = Clock::now() + std::chrono::milliseconds(500);
  while (rounds < 20 || Clock::now() < end) {
    prepare();
    const auto start = Clock::now();
    operation();
    timed += Clock::now() - start;
    ++rounds;
  }
  const double mean = std::chrono::duration<double, std::nano>(timed).count() / rounds / unit_ns;
  std::printf("%-28s %10.3f %s %10d rounds\n", name, mean, unit, rounds);
}

}  // namespace

int main() {
  std::printf("%-28s %13s %17s\n", "Operation (hand-timed)", "Mean", "Rounds");
  {
    BenchNames bench;
    time_rounds(
        "create_default_file", "ms", 1e6, [&] { bench.remove_file(); }, [&] { bench.create(); });
  }
  {
    BenchNames bench;
    bench.write_default_file();
    time_rounds(
        "load_names_of_address_255", "us", 1e3, [] {}, [&] { bench.load(); });
  }
  {
    BenchNames bench;
    bench.write_default_file();
    time_rounds(
        "write_one_name", "ms", 1e6, [] {}, [&] { bench.write(); });
  }
}

#endif
