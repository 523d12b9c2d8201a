#include "ctl_run.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "bus_commands.h"
#include "common/duration_text.h"
#include "common/text_number.h"
#include "ctl_output.h"
#include "names/file_messages.h"
#include "names/stale_temporaries.h"
#include "text/utf8.h"

namespace {

// What the name file and the port have to say and `message`, on stderr: lines of text, or with
// --json the one error object that a script reads.
int fail(CtlContext& context, ExitCode code, const std::string& message) {
  context.messages.tell(exit_status(code), message, context.options.json);
  return exit_status(code);
}

int finish(CtlContext& context, const Outcome& outcome) {
  if (outcome.code == ExitCode::Done) return exit_status(ExitCode::Done);
  return fail(context, outcome.code, outcome.message);
}

// The names of the address, read as the panel reads them; nothing without a name file.
const RelayNames* load_names(CtlContext& context) {
  std::error_code error;
  if (!std::filesystem::exists(context.name_file.path(), error)) return nullptr;
  context.name_file.load_names(context.options.address_text);
  return &context.messages.names();
}

std::string no_names(const CtlContext& context) {
  if (!context.no_names_reason.empty()) return context.no_names_reason;
  return path_text(context.name_file.path()) + " not found.";
}

int address_number(const CtlContext& context) {
  return text_to_int16(context.options.address_text).value_or(0);
}

// Why relayctl will not store `text` as a name, before the rename dialog's own rules.
std::optional<std::string> name_refusal(std::string_view text) {
  // The command line's bytes are stored as they are: text in another encoding would
  // reach the file as U+FFFD.
  if (!is_valid_utf8(text)) {
    return "The name was not stored: it is not UTF-8 text. Give it in UTF-8 (a UTF-8 "
           "locale's terminal types it so).";
  }
  // The dialog drops line breaks at the end of a name; so must the check.
  while (text.ends_with('\n') || text.ends_with('\r')) text.remove_suffix(1);
  if (reads_as_relays(text)) {
    return "The name was not stored: \"" + std::string(text) +
           "\" reads as relay numbers (a number, a range such as 3-6, or all), so no command "
           "could name the relay by it.";
  }
  return std::nullopt;
}

int rename(CtlContext& context) {
  if (const auto refusal = name_refusal(context.options.arguments[1])) {
    return fail(context, ExitCode::Usage, *refusal);
  }
  const std::filesystem::path& path = context.name_file.path();
  std::error_code error;
  if (!path.empty() && !std::filesystem::exists(path, error)) {
    // As the panel's first start: the whole default file, written at once. What the
    // name file says on the way ("not found", then "created") is said here in one line with
    // the path, and only by the program that created it; a failure tells its reason.
    context.name_file.open_or_create();
    if (!std::filesystem::exists(path, error)) return fail(context, ExitCode::Usage, "");
    const auto shown = context.messages.take_shown();
    if (std::any_of(shown.begin(), shown.end(),
                    [](const Message& message) { return message.icon == MessageIcon::None; })) {
      context.err << notice_line(path_text(path) + ": name file created with the default names",
                                 context.options.json);
    }
  }
  const RelayNames* names = load_names(context);
  if (!names) {
    return fail(context, ExitCode::Usage, no_names(context));
  }
  const auto selected = select_relays(std::span(context.options.arguments).first(1), names);
  if (const auto* message = std::get_if<std::string>(&selected)) {
    return fail(context, ExitCode::Usage, *message);
  }
  const RelayMask mask = std::get<RelayMask>(selected);
  int relay = 0;
  for (int r = 1; r <= relay_count; ++r) {
    if (mask & relay_bit(r)) relay = relay == 0 ? r : -1;
  }
  if (relay <= 0) return fail(context, ExitCode::Usage, "rename takes one relay");

  // A relayctl killed in an earlier rename may have left its temporary file behind; the
  // panel and the bridge clear theirs at start, and relayctl may be the only writer.
  remove_stale_temporaries(path);
  // The rename dialog's own logic, with its refusals and the file's errors.
  RenameLogic& logic = context.rename;
  logic.address_text = context.options.address_text;
  logic.relay_text = std::to_string(relay);
  const RenameOutcome outcome = logic.store(context.options.arguments[1]);
  if (outcome.stored) return exit_status(ExitCode::Done);
  // A refusal is told by its reason: the dialog's "press OK again" has no place here.
  return fail(context, ExitCode::Usage,
              outcome.refusal ? *outcome.refusal
              : outcome.error ? outcome.error->text
                              : "");
}

int run(CtlContext& context) {
  const CtlOptions& options = context.options;
  if (options.command == CtlCommand::Rename) return rename(context);
  const RelayNames* names = load_names(context);
  if (options.command == CtlCommand::Names) {
    if (!names) {
      return fail(context, ExitCode::Usage, no_names(context));
    }
    // Names that could not be read would print as empty ones: the name file's message says
    // why, and the exit status that they are not the file's names.
    if (context.messages.errors_shown() > 0) return exit_status(ExitCode::Usage);
    context.out << (options.json ? names_json(address_number(context), *names)
                                 : names_text(*names));
    return exit_status(ExitCode::Done);
  }

  // Bad input is told before the port is touched.
  RelayMask relays = 0;
  if (options.command == CtlCommand::Open || options.command == CtlCommand::Close ||
      options.command == CtlCommand::Pulse) {
    const std::size_t words = options.command == CtlCommand::Pulse ? 1 : options.arguments.size();
    const auto selected = select_relays(std::span(options.arguments).first(words), names);
    if (const auto* message = std::get_if<std::string>(&selected)) {
      return fail(context, ExitCode::Usage, *message);
    }
    relays = std::get<RelayMask>(selected);
  }

  if (!context.open_port()) return exit_status(ExitCode::PortNotOpened);
  if (options.command == CtlCommand::Scan) return scan_boards(context);
  if (options.command == CtlCommand::Watch) return bus_watch(context);
  if (!options.addresses.empty()) return bus_status(context);
  BoardSession session(context.line, static_cast<std::uint8_t>(address_number(context)),
                       options.timeout, context.interrupted);
  session.set_recorder(context.recorder, context.who);
  if (context.opened_line) session.set_line_name(*context.opened_line);
  switch (options.command) {
    case CtlCommand::Status: {
      const auto opened = session.read_states();
      if (!opened) return finish(context, session.no_answer());
      context.out << (options.json ? status_json(address_number(context), *opened, names)
                                   : status_text(*opened, names));
      return exit_status(ExitCode::Done);
    }
    case CtlCommand::Open:
    case CtlCommand::Close:
      return finish(context, session.drive(relays, options.command == CtlCommand::Open));
    case CtlCommand::Pulse:
      return finish(context,
                    session.pulse(relays, *parse_duration(options.arguments[1]), options.inverse));
    case CtlCommand::Watch:
    case CtlCommand::Names:
    case CtlCommand::Rename:
    case CtlCommand::Scan:
    case CtlCommand::Lines:
    case CtlCommand::Log:
    case CtlCommand::Schedule:
      break;
  }
  return exit_status(ExitCode::Done);
}

}  // namespace

int run_command(CtlContext& context) {
  const int status = run(context);
  // Whatever came up on the way (a port that would not open, a file that could not be
  // written), now that the exit status is known.
  context.messages.tell(status, "", context.options.json);
  return status;
}
