#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/message_boxes.h"
#include "names/profile_store.h"

// What an OK in the rename dialog came to.
struct RenameOutcome {
  // Only a stored name closes the dialog; otherwise it keeps the text for another try.
  bool stored = false;
  // Why the name was not stored, as the dialog shows it: a refusal before anything was
  // written, with what to do in the dialog, or the file's own error from the write.
  std::optional<Message> error;
  // A refusal's reason alone, for a host without the dialog (relayctl), where "press
  // OK again" would name a button that is not there.
  std::optional<std::string> refusal;
};

// The name the dialog loads, and what the operator is to be told when the file could
// not be read (the name is then "").
struct StoredName {
  // Nothing when the address or relay number is out of range: the text box keeps
  // what it shows.
  std::optional<std::string> name;
  std::optional<Message> error;
};

// The decisions of the rename dialog, without its widgets. The main window sets
// `address_text` and `relay_text` before the dialog is shown.
class RenameLogic {
 public:
  RenameLogic(std::filesystem::path name_file, ProfileStore& profile_store)
      : name_file_(std::move(name_file)), profile_store_(profile_store) {}

  std::string address_text;  // the address box's text at the latest click
  std::string relay_text;    // the clicked relay number, "1".."16"

  // On each load: the stored name to show.
  StoredName stored_name();
  // Stores the text under the latest address and relay; line breaks at its end (a
  // pasted spreadsheet cell ends in one) are dropped. Refused, with nothing written:
  // no name file (an empty path: the panel runs without one),
  // an address or relay that is no number (a section "[address ]" would be junk that
  // nothing reads), a line break inside the text, a character the file cannot hold, a
  // name longer than a read gives back (ProfileStore::read_limit).
  RenameOutcome store(std::string_view text);
  // The refusal of an address or relay text that is no number, before anything else.
  std::optional<RenameOutcome> refused_target() const;
  // A refusal that the owner of a line sent (the bridge checks names as store() does),
  // told as store() tells its own.
  static RenameOutcome refused_by_owner(std::string reason);

 private:
  std::filesystem::path name_file_;
  ProfileStore& profile_store_;
};
