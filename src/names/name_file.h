#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "common/message_boxes.h"
#include "names/profile_store.h"

// What the name file fills in the main window.
class NameView {
 public:
  virtual ~NameView() = default;
  virtual void set_window_caption(const std::string& caption) = 0;
  // Relay 1..16.
  virtual void set_name_label(int relay, const std::string& name) = 0;
};

// name.txt in the program's folder.
std::filesystem::path name_file_path(const std::filesystem::path& program_dir);

// The window title and the names of the 16 relays of every address 0..255.
class NameFile {
 public:
  NameFile(std::filesystem::path path, ProfileStore& profile_store, MessageBoxes& messages,
           NameView& view);

  // Creates the file with its defaults (telling the operator), or reads the title.
  // Creation holds the file's write lock, so that of two programs starting at once
  // only one sets the file up and the other takes it as it is. An empty path means that the panel
  // runs without a name file: the default title, no names, and nothing said (the operator was told
  // why at start).
  void open_or_create();
  // The 16 names of the address text exactly as shown in the address box.
  void load_names(const std::string& address);
  // The title, as open_or_create() shows it for a file that is set up.
  void load_title();
  // After the file changed on disk (another program renamed a relay): the title, and the
  // 16 names when an address text is given. Tells the operator nothing and leaves the
  // view as it is while the file is missing or not set up: a file being replaced or
  // edited is no news to act on, and the next change brings the names. A file unchanged
  // since the last reload is not read again. Why the file could not be read, for a host
  // that keeps a log (a window's operator has not asked).
  std::error_code reload(const std::optional<std::string>& address);

  const std::filesystem::path& path() const { return path_; }

 private:
  // Copies a file that is about to be set up again to a new name.txt.bak (or
  // name.txt.bak.<n>), so that the names it holds survive. False when the file must be left as it
  // is.
  bool back_up_before_reset();
  // Whether the store's errors reach the operator: a reload's do not.
  enum class Telling { operator_told, quiet };
  void load_names(const std::string& address, Telling telling);
  // Whether the file is set up (holds the first address's section).
  bool is_set_up(Telling telling);
  // One value of the file, "" when it cannot be read.
  std::string value(std::string_view section, std::string_view key, Telling telling);

  std::filesystem::path path_;
  ProfileStore& profile_store_;
  MessageBoxes& messages_;
  NameView& view_;
  std::string reloaded_bytes_;  // the file as the last reload showed it
};
