#include <windows.h>
// After windows.h:
#include <aclapi.h>

#include "settings/file_access_windows.h"
#include "settings/settings_files.h"

std::optional<std::string> secret_file_exposure(const std::filesystem::path& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  // A file that cannot be looked at is refused by the read that follows, with its reason.
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  const auto readers = other_readers(descriptor, process_user());
  LocalFree(descriptor);
  if (!readers) return std::nullopt;
  return "readable by " + *readers +
         " (its access list); let only its owner, the administrators and the system read it "
         "(its Properties, Security)";
}

std::FILE* open_settings_file(const std::filesystem::path& path) {
  return ::_wfopen(path.c_str(), L"rb");
}
