#include "log_command.h"

#include "ctl_output.h"
#include "event_log/event_log.h"
#include "event_log/event_text.h"
#include "exit_code.h"

int run_log(const CtlOptions& options, const std::filesystem::path& path, std::ostream& out,
            std::ostream& err) {
  EventFilter filter;
  filter.address = options.log_address;
  filter.relay = options.log_relay;
  if (options.since) {
    const auto now =
        std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
    auto since = parse_since(*options.since, now);
    if (const auto* why = std::get_if<std::string>(&since)) {
      err << error_line(*why, exit_status(ExitCode::Usage), options.json);
      return exit_status(ExitCode::Usage);
    }
    filter.since = std::get<Event::Time>(since);
  }
  if (options.csv) out << event_csv_header() << '\n';
  // Nothing has been switched here yet: as a log with no events, not a failure. A link
  // to nowhere is not an absent log and is read (and refused) as one.
  std::error_code absent;
  if (std::filesystem::symlink_status(path, absent).type() ==
      std::filesystem::file_type::not_found) {
    out.flush();
    return exit_status(ExitCode::Done);
  }
  const auto failure = read_events(path, filter, [&](const Event& event) {
    out << (options.json  ? event_json(event)
            : options.csv ? event_csv(event)
                          : event_line(event))
        << '\n';
  });
  out.flush();
  if (failure) {
    err << error_line(*failure, exit_status(ExitCode::Usage), options.json);
    return exit_status(ExitCode::Usage);
  }
  return exit_status(ExitCode::Done);
}

namespace {

// The log and the sink over it, held together for the command's run.
class OwnedEventLog : public EventSink {
 public:
  OwnedEventLog(std::unique_ptr<EventLog> log, std::ostream& err)
      : log_(std::move(log)),
        sink_(*log_, [&err](const std::string& why) { err << "relayctl: " << why << '\n'; }) {}
  void record(const Event& event) override { sink_.record(event); }

 private:
  std::unique_ptr<EventLog> log_;
  EventLogSink sink_;
};

}  // namespace

std::unique_ptr<EventSink> open_event_log(const std::filesystem::path& folder, std::ostream& err) {
  auto limits = read_log_limits(folder);
  if (const auto* why = std::get_if<std::string>(&limits)) {
    err << "relayctl: " << *why << "; the event log keeps its default limits\n";
    limits = EventLogLimits{};
  }
  auto opened = EventLog::open(folder / event_log_file_name, std::get<EventLogLimits>(limits));
  if (const auto* why = std::get_if<std::string>(&opened)) {
    err << "relayctl: no event log: " << *why << '\n';
    return nullptr;
  }
  return std::make_unique<OwnedEventLog>(std::move(std::get<std::unique_ptr<EventLog>>(opened)),
                                         err);
}
