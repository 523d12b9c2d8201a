// What the rules of a line cost each switch: the interlock check every switch passes
// before it may go on the wire, on a board with four interlocked groups, and the
// max_on watch that every answer feeds.
#include <benchmark/benchmark.h>

#include "line/interlock.h"
#include "line/max_on.h"

namespace {

LineRules four_groups() {
  LineRules rules;
  BoardRules& board = rules.boards[1];
  board.interlocks = {0x0003, 0x000C, 0x0070, 0xF000};
  for (auto& limit : board.max_on) limit = std::chrono::minutes(30);
  return rules;
}

void InterlockCheck(benchmark::State& state) {
  const LineRules rules = four_groups();
  std::uint8_t relay = 1;
  for (auto _ : state) {
    auto refusal = interlock_refusal(rules, 1, 0x0001, BoardCommand::OpenRelay, 0, relay);
    benchmark::DoNotOptimize(refusal);
    relay = static_cast<std::uint8_t>(relay % 16 + 1);
  }
}
BENCHMARK(InterlockCheck);

void MaxOnAnswer(benchmark::State& state) {
  const LineRules rules = four_groups();
  MaxOnWatch watch(rules);
  auto now = MaxOnWatch::Clock::time_point{};
  std::uint16_t opened = 0;
  for (auto _ : state) {
    watch.reported(1, opened, now);
    auto due = watch.take_due(now);
    benchmark::DoNotOptimize(due);
    now += std::chrono::milliseconds(50);
    opened = static_cast<std::uint16_t>(opened * 31 + 7);
  }
}
BENCHMARK(MaxOnAnswer);

}  // namespace

BENCHMARK_MAIN();
