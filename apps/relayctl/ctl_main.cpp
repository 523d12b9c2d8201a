#include "ctl_main.h"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <variant>

#include "bus_commands.h"
#include "common/text_number.h"
#include "ctl_command_help.h"
#include "ctl_messages.h"
#include "ctl_options.h"
#include "ctl_output.h"
#include "ctl_run.h"
#include "event_log/event_log_file.h"
#include "interrupt.h"
#include "line/rules_file.h"
#include "line_driver.h"
#include "link_connection.h"
#include "mqtt/plain_password.h"
#include "names/name_file.h"
#include "names/profile_store.h"
#include "names/rename_logic.h"
#include "names/state_folder.h"
#include "names/state_folder_platform.h"
#include "schedule_command.h"
#include "serial/port_device.h"
#include "serial/port_opening.h"
#include "served_commands.h"
#include "settings/file_trust.h"
#include "settings/settings_files.h"
#include "standard_output.h"

namespace {

// The client configuration file: --config, or relayctl.conf in the per-user folder
// that also holds the names (relay_panel) in the user's configuration folder by the
// system's own rule (XDG, %APPDATA%); nothing when that one is absent. A file kept
// only in the folder's earlier spelling, relay-panel, is still used.
std::optional<std::filesystem::path> client_config_path(const CtlOptions& options) {
  if (options.config) return options.config;
  StateFolderQuery query;
  read_state_environment(query);
  std::filesystem::path folder;
  if (query.per_user_rule == PerUserRule::AppData) {
    if (query.appdata.empty()) return std::nullopt;
    folder = query.appdata;
  } else if (!query.xdg_config_home.empty()) {
    folder = query.xdg_config_home;
  } else if (!query.home.empty()) {
    folder = std::filesystem::path(query.home) / ".config";
  } else {
    return std::nullopt;
  }
  const auto present = [](const std::filesystem::path& path) {
    std::error_code unknown;
    return std::filesystem::exists(std::filesystem::symlink_status(path, unknown));
  };
  const std::filesystem::path file = folder / state_folder_name / "relayctl.conf";
  const std::filesystem::path earlier = folder / "relay-panel" / "relayctl.conf";
  return !present(file) && present(earlier) ? earlier : file;
}

// A local line is one program's at a time: a script that watches while it switches
// needs the line served. A line the bridge serves already says how to reach it.
std::string share_hint(const std::string& failure) {
  if (failure.find("Device busy: ") == std::string::npos ||
      failure.find("served by relayboard-mqtt") != std::string::npos) {
    return {};
  }
  return "; to share a line, let relayboard-mqtt serve it and reach it with --broker URL "
         "--line NAME (relayctl(1), SERVED LINES)";
}

int usage_error(std::ostream& err, const std::string& message, bool json) {
  err << error_line(json ? message : message + " (see relayctl --help)",
                    exit_status(ExitCode::Usage), json);
  return exit_status(ExitCode::Usage);
}

int run_on_broker(CtlOptions& options, const CtlPlatform& platform, std::ostream& out,
                  std::ostream& err) {
  if (!platform.connect_broker) {
    err << error_line("served lines are not available in this build of relayctl",
                      exit_status(ExitCode::Usage), options.json);
    return exit_status(ExitCode::Usage);
  }
  BrokerAccess access{options.broker_host, options.broker_port,
                      options.cafile ? options.cafile->string() : "", options.user.value_or(""),
                      ""};
  if (options.password_file) {
    const std::string named = "the password file " + options.password_file->string();
    if (!options.allow_readable_password_file) {
      if (const auto exposure = secret_file_exposure(*options.password_file)) {
        return usage_error(err,
                           named + ": " + *exposure + ", or give --allow-readable-password-file",
                           options.json);
      }
    }
    const FileText read = read_settings_file(*options.password_file);
    if (!read.text) return usage_error(err, "the password file " + read.reason, options.json);
    access.password = read.text->substr(0, read.text->find_first_of("\r\n"));
  }
  access.plain_password = options.allow_plain_password;
  const PasswordCheck password = check_password_passage(
      relayctl_broker_settings(access, 0),
      {*options.broker, "use mqtts:// with --cafile", "--allow-plain-password"});
  if (password.passage == PasswordPassage::clear_refused)
    return usage_error(err, password.text, options.json);
  if (password.passage == PasswordPassage::clear_allowed)
    err << notice_line(password.text, options.json);
  const auto broker = platform.connect_broker(access);
  if (options.command == CtlCommand::Watch) ignore_broken_pipe();
  if (options.command != CtlCommand::Status && options.command != CtlCommand::Names &&
      options.command != CtlCommand::Lines) {
    catch_interrupts();
  }
  const auto ends = [&] {
    return interrupted() || (options.command == CtlCommand::Watch && standard_output_closed());
  };
  return run_served(options, *broker, platform.wait, ends, out, err);
}

}  // namespace

int relayctl_main(int argc, const char* const argv[], const CtlPlatform& platform,
                  std::ostream& out, std::ostream& err) {
  const auto parsed = parse_ctl_options(argc, argv);
  if (const auto* message = std::get_if<std::string>(&parsed)) {
    const bool json = json_asked(argc, argv);
    // A message that offers what was meant needs no pointer to the help.
    const bool bare = json || message->ends_with('?');
    err << error_line(bare ? *message : *message + " (see relayctl --help)",
                      exit_status(ExitCode::Usage), json);
    return exit_status(ExitCode::Usage);
  }
  CtlOptions options = std::get<CtlOptions>(parsed);
  if (options.help) {
    out << (options.command_help ? ctl_command_usage(options.command)
                                 : ctl_usage(static_cast<bool>(platform.show_log)));
    return exit_status(ExitCode::Done);
  }
  if (options.version) {
    out << "relayctl " RELAYCTL_VERSION "\n";
    return exit_status(ExitCode::Done);
  }

  if (const auto path = client_config_path(options)) {
    // The default file may be absent; one that is there must be readable and small.
    const TrustedText read = read_trusted_file(*path, settings_file_byte_limit);
    // A default file that cannot even be looked at (another user's home) is none; a
    // link to nothing is there, and refused.
    std::error_code unknown;
    const bool present = std::filesystem::exists(std::filesystem::symlink_status(*path, unknown));
    if (!read.text && (options.config || present)) {
      return usage_error(err, "the configuration file " + read.reason, options.json);
    }
    if (read.text) {
      if (options.verbose) err << "relayctl: settings from " << path->string() << '\n';
      if (const auto problem = apply_client_config(options, *read.text, path->string())) {
        return usage_error(err, *problem, options.json);
      }
    }
  }
  if (const auto problem = finish_served_options(options)) {
    return usage_error(err, *problem, options.json);
  }
  if (options.command == CtlCommand::Schedule && !options.broker) {
    return run_configured_schedule(options, out, err);
  }
  if (options.broker) return run_on_broker(options, platform, out, err);

  // The name file and the com<n> links that map port numbers to devices are found by
  // the panel's own rule; without a usable folder there are no names and no links, as
  // in the panel, and the reason is told only to a command that needs the names.
  StateFolder state;
  std::string no_names_reason;
  const StateFolderChoice choice = find_state_folder(platform.program_dir, options.names_file);
  if (const auto* found = std::get_if<StateFolder>(&choice)) {
    state = *found;
  } else {
    no_names_reason = state_folder_message(std::get<StateFolderProblem>(choice)).text;
  }

  if (options.command == CtlCommand::Log) {
    if (!platform.show_log) {
      err << error_line("the event log is not available in this build of relayctl",
                        exit_status(ExitCode::Usage), options.json);
      return exit_status(ExitCode::Usage);
    }
    if (state.folder.empty()) {
      err << error_line(no_names_reason, exit_status(ExitCode::Usage), options.json);
      return exit_status(ExitCode::Usage);
    }
    return platform.show_log(options, state.folder / event_log_file_name, out, err);
  }

  const std::unique_ptr<SerialPort> port = platform.make_port(state.folder);
  CtlMessages messages(err);
  ProfileStore profile_store;
  NameFile name_file(state.name_file, profile_store, messages, messages);
  RenameLogic rename(state.name_file, profile_store);
  // One line engine for the whole run: a watch polls on its rhythm, the other commands
  // send their requests at once and wait for each answer.
  LineDriver line(*port, platform.wait, polled_addresses(options));
  const bool watching = options.command == CtlCommand::Watch;
  if (watching) ignore_broken_pipe();
  // A command that switches relays ends on a signal only once they are where it leaves
  // them, and a scan with the boards found so far; a status query has nothing to put back.
  if (watching || options.command == CtlCommand::Open || options.command == CtlCommand::Close ||
      options.command == CtlCommand::Pulse || options.command == CtlCommand::Scan) {
    catch_interrupts();
  }

  // A watch also ends when nobody reads it any more.
  const auto ends = [watching] { return interrupted() || (watching && standard_output_closed()); };
  // The switches of a command go to the state folder's event log, as this user's.
  std::unique_ptr<EventSink> events;
  std::optional<EventRecorder> recorder;
  const bool switches = options.command == CtlCommand::Open ||
                        options.command == CtlCommand::Close ||
                        options.command == CtlCommand::Pulse;
  std::string user = platform.user;
  if (user.empty()) {
    const char* variable = std::getenv("USER");
    if (!variable) variable = std::getenv("USERNAME");
    if (variable) user = variable;
  }
  const SwitchSource who{"relayctl", user, ""};
  if (switches && platform.open_events && !state.folder.empty()) {
    events = platform.open_events(state.folder, err);
    if (events) recorder.emplace(*events, "");
  }
  // The port opens as the panel's open button opens it, and fails with its words. The
  // rules beside the name file are read at the open; a file with a fault keeps the line
  // closed rather than run without them.
  std::string opened_line;
  const auto open_port_named = [&] {
    const PortOpening opening =
        open_port(*port, options.port_text, options.device, [&]() -> std::optional<std::string> {
          auto rules = read_rules(state.name_file.parent_path());
          if (auto* why = std::get_if<std::string>(&rules)) return std::move(*why);
          line.line().engine().set_rules(std::get<LineRules>(std::move(rules)));
          return std::nullopt;
        });
    if (!opening.ok) {
      messages.show({opening.failure + share_hint(opening.failure), "", MessageIcon::Critical});
      return false;
    }
    if (!opening.notice.empty()) messages.show({opening.notice, "", MessageIcon::Warning});
    if (recorder) recorder->set_line(opening.line);
    opened_line = opening.line;
    // A numbered port says how it came to its device: silence on a default device
    // nobody linked is the usual first fault.
    if (!options.device) {
      const auto number = text_to_int16(options.port_text);
      const std::string mapping = number ? port_mapping_text(*number, state.folder) : "";
      if (!mapping.empty()) opened_line += " (" + mapping + ")";
    }
    return true;
  };
  CtlContext context{options,
                     messages,
                     name_file,
                     rename,
                     line,
                     recorder ? &*recorder : nullptr,
                     platform.wait,
                     open_port_named,
                     ends,
                     no_names_reason,
                     out,
                     err,
                     standard_error_is_terminal(),
                     who,
                     &opened_line};
  return run_command(context);
}
