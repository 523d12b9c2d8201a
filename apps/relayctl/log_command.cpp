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
