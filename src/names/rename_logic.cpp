#include "names/rename_logic.h"

#include <cstdio>
#include <string>
#include <utility>

#include "common/text_number.h"
#include "names/name_file_layout.h"
#include "text/utf8.h"

namespace {

// The caption of every message about a name the dialog would not store.
constexpr std::string_view rename_caption = "Rename";

// The refusals for the name itself, as every rename gives them (the bridge's too), and the
// dialog's next step for each.
constexpr std::string_view line_break_reason =
    "The name was not stored: it holds a line break, and a name is one line of the name file.";
constexpr std::string_view line_break_step = "Remove the line break and press OK again.";
constexpr std::string_view unstorable_reason =
    "The name was not stored: the name file cannot hold the character \"";
constexpr std::string_view unstorable_step = "Remove it and press OK again.";
constexpr std::string_view too_long_reason = "The name was not stored: it takes ";
constexpr std::string_view too_long_step = "Shorten it and press OK again.";

// The dialog adds its next step to the reason; the reason alone stays for other hosts.
RenameOutcome refused(std::string reason, std::string_view dialog_step = {}) {
  std::string shown = reason;
  if (!dialog_step.empty()) shown.append(" ").append(dialog_step);
  return {false, Message{std::move(shown), std::string(rename_caption), MessageIcon::Critical},
          std::move(reason)};
}

// "U+E78D" for one well-formed character given as UTF-8.
std::string code_point_text(std::string_view character) {
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X",
                static_cast<unsigned>(utf8_code_point(character, 0, character.size())));
  return text;
}

std::string_view without_trailing_line_breaks(std::string_view text) {
  const auto last = text.find_last_not_of("\r\n");
  return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

}  // namespace

StoredName RenameLogic::stored_name() {
  // Text that is no 16-bit number counts as out of range; there is no lower bound on
  // the address beyond what the conversion refuses.
  const auto address = text_to_int16(address_text);
  const auto relay = text_to_int16(relay_text);
  if (!address || !relay || name_file_.empty()) return {};
  if (*address > highest_address || *relay < 1 || *relay > relay_count) return {};
  ReadOutcome read =
      profile_store_.read_value(name_file_, address_section(address_text), relay_key(relay_text));
  return {std::move(read.value), std::move(read.error)};
}

std::optional<RenameOutcome> RenameLogic::refused_target() const {
  if (!text_to_int16(address_text)) {
    const std::string what = address_text.empty()
                                 ? std::string("the Address box was empty")
                                 : "the Address box held \"" + address_text + "\", not a number";
    return refused("The name was not stored: " + what + " when the relay's name was clicked.",
                   "Type the board's address in the Address box, click the relay's name again "
                   "and press OK.");
  }
  if (!text_to_int16(relay_text)) {
    return refused("The name was not stored: \"" + relay_text + "\" is not a relay number.");
  }
  return std::nullopt;
}

RenameOutcome RenameLogic::refused_by_owner(std::string reason) {
  for (const auto& [start, step] :
       {std::pair{line_break_reason, line_break_step},
        std::pair{unstorable_reason, unstorable_step}, std::pair{too_long_reason, too_long_step}}) {
    if (reason.starts_with(start)) return refused(std::move(reason), step);
  }
  return refused(std::move(reason));
}

RenameOutcome RenameLogic::store(std::string_view text) {
  if (name_file_.empty()) {
    return refused(
        "The name was not stored: the panel has no name file this time (the message at "
        "start said why).");
  }
  if (auto refusal = refused_target()) return std::move(*refusal);
  const std::string_view name = without_trailing_line_breaks(text);
  if (name.find_first_of("\r\n") != std::string_view::npos) {
    return refused(std::string(line_break_reason), line_break_step);
  }
  // Stored, it would come back as '?' or not at all: what is stored must be what the
  // operator typed.
  if (const auto character = profile_store_.unstorable_character(name_file_, name)) {
    return refused(
        std::string(unstorable_reason) + *character + "\" (" + code_point_text(*character) + ").",
        unstorable_step);
  }
  // Stored whole, it would read back cut: the dialog, relayctl and the window would all
  // show less than what was reported stored.
  if (const auto length = profile_store_.length_beyond_read_limit(name_file_, name)) {
    return refused(std::string(too_long_reason) + std::to_string(length->units) +
                       (length->utf16 ? " UTF-16 code units" : " bytes") +
                       " in the name file, and a name can hold at most " +
                       std::to_string(ProfileStore::read_limit) + ".",
                   too_long_step);
  }
  WriteOutcome write = profile_store_.write_value(name_file_, address_section(address_text),
                                                  relay_key(relay_text), name);
  return {write.written, std::move(write.error), std::nullopt};
}
