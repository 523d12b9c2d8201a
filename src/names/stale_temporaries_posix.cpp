#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "names/disk_file.h"
#include "names/stale_temporaries.h"
#include "names/temp_file_names_posix.h"

void remove_stale_temporaries(const std::filesystem::path& file) {
  // The temporaries are beside the file that writes replace: a link's target when the
  // link is one to follow.
  std::filesystem::path target;
  if (const auto refusal = resolve_regular_file(file, target);
      refusal && refusal != std::errc::no_such_file_or_directory) {
    target = file;
  }
  const std::string file_name = target.filename().string();
  // Best effort: a leftover that cannot be listed or removed costs only disk space, and
  // the start must go on.
  std::error_code error;
  for (std::filesystem::directory_iterator entry(temp_file_names::folder_of(target), error), end;
       !error && entry != end; entry.increment(error)) {
    const auto owner = temp_file_names::owner(entry->path().filename().native(), file_name);
    std::error_code ignored;
    if (!owner || entry->symlink_status(ignored).type() != std::filesystem::file_type::regular) {
      continue;
    }
    // A process that exists, even one of another user (EPERM), may still be writing.
    if (::kill(*owner, 0) == 0 || errno != ESRCH) continue;
    ::unlink(entry->path().c_str());
  }
}
