#include "ctl_run.h"

#include <filesystem>

#include "common/text_number.h"
#include "ctl_output.h"

namespace {

int fail(CtlContext& context, ExitCode code, const std::string& message) {
  context.err << "relayctl: " << message << '\n';
  return exit_status(code);
}

int finish(CtlContext& context, const Outcome& outcome) {
  if (outcome.code == ExitCode::Done) return exit_status(ExitCode::Done);
  return fail(context, outcome.code, outcome.message);
}

// The names of the address, read as the panel reads them; nothing without a name file.
const RelayNames* load_names(CtlContext& context) {
  std::error_code error;
  if (!std::filesystem::exists(context.core.name_file().path(), error)) return nullptr;
  context.core.name_file().load_names(context.options.address_text);
  return &context.host.names();
}

std::string no_names(const CtlContext& context) {
  if (!context.no_names_reason.empty()) return context.no_names_reason;
  return context.core.name_file().path().string() + " not found.";
}

int address_number(const CtlContext& context) {
  return text_to_int16(context.options.address_text).value_or(0);
}

int watch(CtlContext& context) {
  PanelCore& core = context.core;
  // The poll timer runs now, as in the panel; the first answer starts the output.
  const auto first_by = context.wait.now() + BoardSession::query_attempts * context.options.timeout;
  if (!context.wait.wait_until([&] { return core.answers() > 0 || context.interrupted(); },
                               first_by)) {
    return fail(context, ExitCode::NoAnswer,
                "the board did not answer within " +
                    std::to_string(BoardSession::query_attempts * context.options.timeout.count()) +
                    " ms");
  }
  ChangeLines lines;
  const auto print_changes = [&] {
    const std::string changed = lines.take(core.shown(), context.options.json);
    if (!changed.empty()) context.out << changed << std::flush;
    return context.interrupted();
  };
  context.wait.wait_until(print_changes, EventWait::Clock::time_point::max());
  return exit_status(ExitCode::Done);
}

int rename(CtlContext& context) {
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

  // The rename dialog's own logic, with its refusals.
  RenameLogic& logic = context.core.rename();
  logic.add = context.options.address_text;
  logic.xianlu = std::to_string(relay);
  const RenameOutcome outcome = logic.Command_ok_Click(context.options.arguments[1]);
  if (outcome.refusal) context.err << "relayctl: " << outcome.refusal->text << '\n';
  return exit_status(outcome.stored ? ExitCode::Done : ExitCode::Usage);
}

}  // namespace

int run_command(CtlContext& context) {
  const CtlOptions& options = context.options;
  if (options.command == CtlCommand::Rename) return rename(context);
  const RelayNames* names = load_names(context);
  if (options.command == CtlCommand::Names) {
    if (!names) {
      return fail(context, ExitCode::Usage, no_names(context));
    }
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
  BoardSession session(context.core, context.wait, options.timeout);
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
      return watch(context);
    case CtlCommand::Names:
    case CtlCommand::Rename:
      break;
  }
  return exit_status(ExitCode::Done);
}
