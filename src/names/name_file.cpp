#include "names/name_file.h"

#include <utility>
#include <vector>

#include "common/text_number.h"
#include "names/default_name_text.h"
#include "names/disk_file.h"
#include "names/file_messages.h"
#include "names/name_file_layout.h"
#include "names/name_file_lock.h"
#include "names/stale_temporaries.h"

std::filesystem::path name_file_path(const std::filesystem::path& program_dir) {
  return program_dir / "name.txt";
}

NameFile::NameFile(std::filesystem::path path, ProfileStore& profile_store, MessageBoxes& messages,
                   NameView& view)
    : path_(std::move(path)), profile_store_(profile_store), messages_(messages), view_(view) {}

void NameFile::open_or_create() {
  // No name file this run: the operator has been told why, once.
  if (path_.empty()) {
    view_.set_window_caption(std::string(default_title));
    return;
  }
  // A program killed while renaming a relay or creating the file may have left its
  // temporary files behind.
  remove_stale_temporaries(path_);
  // Backups made by earlier versions went through such temporaries too.
  std::filesystem::path old_backup = path_;
  remove_stale_temporaries(old_backup += ".bak");
  // On a first start the operator hears that the file is not there, then that it was
  // created.
  if (is_set_up(Telling::operator_told)) {
    view_.set_window_caption(value(title_section, title_key, Telling::operator_told));
    return;
  }
  view_.set_window_caption(std::string(default_title));
  const NameFileLock lock(path_, NameFileLock::default_patience);
  if (!lock.may_write()) {
    messages_.show(lock_failure_message(path_, "created", lock, NameFileLock::default_patience));
    return;
  }
  // Another program starting at the same time may have set it up while this one waited;
  // what went wrong here has already been said.
  if (is_set_up(Telling::quiet)) {
    view_.set_window_caption(value(title_section, title_key, Telling::quiet));
    return;
  }
  if (!back_up_before_reset()) return;
  if (const auto error = replace_file_atomically(path_, default_name_text())) {
    messages_.show(file_failure_message(path_, "created", error));
    return;
  }
  messages_.show({"name file created", "", MessageIcon::None});
}

void NameFile::load_names(const std::string& address) {
  if (path_.empty()) return;
  load_names(address, Telling::operator_told);
}

void NameFile::load_title() {
  if (path_.empty()) return;
  view_.set_window_caption(value(title_section, title_key, Telling::operator_told));
}

std::error_code NameFile::reload(const std::optional<std::string>& address) {
  if (path_.empty()) return {};
  // A change beside the file (another file of its folder) leaves it as the last reload
  // read it: one read, and the view as it is.
  std::string bytes;
  if (const auto error = read_whole_file(path_, bytes)) return error;
  if (bytes == reloaded_bytes_ || !is_set_up(Telling::quiet)) return {};
  reloaded_bytes_ = std::move(bytes);
  view_.set_window_caption(value(title_section, title_key, Telling::quiet));
  if (address) load_names(*address, Telling::quiet);
  return {};
}

void NameFile::load_names(const std::string& address, Telling telling) {
  // One read for the 16 names: the file may be large (every address's section).
  std::vector<std::string> keys;
  for (unsigned relay = 1; relay <= relay_count; ++relay) {
    keys.push_back(relay_key(number_to_text(relay)));
  }
  const ReadValues read = profile_store_.read_values(path_, address_section(address), keys);
  for (unsigned relay = 1; relay <= relay_count; ++relay) {
    // Each name unread is told, as each read of its own would tell it.
    if (read.error && telling == Telling::operator_told) messages_.show(*read.error);
    view_.set_name_label(static_cast<int>(relay), read.values[relay - 1]);
  }
}

bool NameFile::is_set_up(Telling telling) {
  const SectionOutcome outcome = profile_store_.has_section_line(path_, first_address_section);
  if (outcome.error && telling == Telling::operator_told) messages_.show(*outcome.error);
  return outcome.present;
}

std::string NameFile::value(std::string_view section, std::string_view key, Telling telling) {
  ReadOutcome outcome = profile_store_.read_value(path_, section, key);
  if (outcome.error && telling == Telling::operator_told) messages_.show(*outcome.error);
  return std::move(outcome.value);
}

bool NameFile::back_up_before_reset() {
  std::string bytes;
  // Missing: nothing to keep. Unreadable, or no file to use (a FIFO, a link that may
  // have been planted): the operator has just been told why, and what is there must not
  // be overwritten with the defaults.
  if (const auto error = read_whole_file(path_, bytes)) {
    return error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory;
  }
  if (bytes.empty()) return true;
  std::filesystem::path backup;
  if (const auto error = write_backup(path_, bytes, backup)) {
    Message message = file_failure_message(backup, "written", error);
    message.text.append(". ").append(path_text(path_)).append(" was left as it is.");
    messages_.show(message);
    return false;
  }
  return true;
}
