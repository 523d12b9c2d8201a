#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

// One rule for every file that a program reads or writes in its folders: the name file,
// its lock and backups, rules.conf, lines.conf, events.conf, the event log, the
// timetable's memory, the web users file and the configuration files.
//
// A file is used only when it is a regular file (not a FIFO, a device or a folder) that
// cannot have been planted or changed by someone the program's user does not trust:
//  - it belongs to this user, to the administrator, or to the owner of its folder, who
//    could replace it anyway; or, in a folder shared through a group (group-writable,
//    not writable by every user), to a member who gave it the folder's group;
//  - every user may not write it.
// A link is followed only when it and the file it points to pass the same rule and the
// link is not in a folder that every user may write (there anyone can plant one).
// Anything else is refused with what it is. On Windows the owner and the access list
// are judged (file_access_windows.h): every user there is Everyone, Authenticated Users
// or Users, the administrator the system, the Administrators group or the installer; a
// link (any reparse point) is never followed.

// Why a file is not used, where the system itself has no word for it.
enum class FileRefusal {
  link = 1,
  fifo,
  device,
  socket,
  folder,
  other_kind,
  too_large,
  dangling_link,
  link_owner,
  link_target_owner,
  link_in_shared_folder,
  owner_not_kept,
  no_backup_name,
  other_owner,
  writable_by_others,
};

const std::error_category& file_refusal_category();
std::error_code make_error_code(FileRefusal refusal);

template <>
struct std::is_error_code_enum<FileRefusal> : std::true_type {};

// The most a file read whole may hold: a name file is about 80 kB, and a file much
// larger than anyone would type is refused rather than read into memory.
inline constexpr std::size_t whole_file_byte_limit = 16u << 20;

// How a file may be used: its content read (every file), or only held as a lock, whose
// content nobody reads, so that a lock file that every user may write is no threat.
enum class FileUse { content, lock };

// The regular file that an operation on `file` acts on: `file` itself when it passes
// the rule or does not exist (then `file`, to be created), the file a link points to
// when the link may be followed. A missing file gives no_such_file_or_directory with
// `target` set to `file`; a link to nothing gives FileRefusal::dangling_link.
std::error_code resolve_regular_file(const std::filesystem::path& file,
                                     std::filesystem::path& target, FileUse use = FileUse::content);

// A settings file read whole through the rule, at most `limit` bytes. `absent` when
// there is no file of the name at all (a link to nothing is present, and refused).
// `reason` is "<path>: not used: why" for a file the rule refuses and "<path>: cannot
// be read: why" when the system could not read it.
struct TrustedText {
  std::optional<std::string> text;
  std::string reason;
  bool absent = false;
};
TrustedText read_trusted_file(const std::filesystem::path& path, std::size_t limit);

// The bytes of a file that passes the rule, read to its end or one byte past `limit`;
// each system's own (file_trust_posix.cpp, file_trust_windows.cpp).
std::error_code read_trusted_bytes(const std::filesystem::path& path, std::size_t limit,
                                   std::string& text);

// The folder that holds `file`: "." for a bare file name.
std::filesystem::path containing_folder(const std::filesystem::path& file);

// Whether a failure of resolve_regular_file is the rule's refusal of a file that is
// there ("not used"), rather than the system's failure to look at it.
bool is_trust_refusal(const std::error_code& error);
