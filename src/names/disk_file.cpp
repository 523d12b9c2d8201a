#include "names/disk_file.h"

#include <string>

bool folder_cannot_be_synced(const std::error_code& reason) {
  // Some filesystems (network, FUSE, read-only mounts) have no way to flush a folder
  // and say so; a folder the operator may write to but not read (-wx) cannot be opened
  // for it. The rename went through all the same and reaches the disk in the system's
  // own time: nothing the operator could do would make it safer.
  return reason == std::errc::invalid_argument || reason == std::errc::read_only_file_system ||
         reason == std::errc::not_supported || reason == std::errc::operation_not_supported ||
         reason == std::errc::permission_denied;
}
