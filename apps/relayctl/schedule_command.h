#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "ctl_options.h"

// One timetable entry and when it runs next, as relayctl schedule shows it.
struct ScheduleRun {
  std::string name;
  // Nothing when the entry has no day to run on.
  std::optional<std::chrono::system_clock::time_point> next;
  // Only the bridge knows: nothing when read from a configuration file.
  std::optional<bool> paused;
};

// The runs in the timetable the bridge publishes (retained, JSON); nothing when the
// payload is not one.
std::optional<std::vector<ScheduleRun>> published_runs(std::string_view payload);

// The runs of the `schedule = ...` lines of the bridge's configuration file at `path`,
// reckoned from `now` in the machine's time zone; or the fault, as "FILE:LINE: why".
std::variant<std::vector<ScheduleRun>, std::string> configured_runs(
    const std::filesystem::path& path, std::chrono::system_clock::time_point now);

// A line each, "2026-12-09 06:30 NAME" in local time ("never" for no run, "(paused)"
// after a paused entry), or a JSON object a line.
void print_runs(const std::vector<ScheduleRun>& runs, bool json, std::ostream& out);

// relayctl schedule FILE: the runs of the bridge's configuration file; the exit status.
int run_configured_schedule(const CtlOptions& options, std::ostream& out, std::ostream& err);
