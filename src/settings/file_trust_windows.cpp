#include <windows.h>
// After windows.h:
#include <aclapi.h>

#include <memory>

#include "settings/device_names_windows.h"
#include "settings/file_access_windows.h"
#include "settings/file_trust.h"

// Windows keeps each file's owner and who may write it in its security descriptor, which
// the folder's inheritance sets: the rule is judged there. Links (symbolic links,
// junctions, any reparse point) are never followed.

namespace {

std::error_code system_error(DWORD error) {
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    return std::make_error_code(std::errc::no_such_file_or_directory);
  }
  return {static_cast<int>(error), std::system_category()};
}

struct LocalMemory {
  void operator()(void* memory) const { LocalFree(memory); }
};
using OwnedDescriptor = std::unique_ptr<void, LocalMemory>;

// The folder's owner, who could replace the file anyway: nothing when it cannot be seen.
OwnedDescriptor folder_owner(const std::filesystem::path& file, PSID& owner) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  owner = nullptr;
  const std::wstring folder = containing_folder(file).wstring();
  if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                            nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    owner = nullptr;
  }
  return OwnedDescriptor(descriptor);
}

std::error_code refusal_of_standing(PSECURITY_DESCRIPTOR descriptor,
                                    const std::filesystem::path& file, FileUse use) {
  const std::error_code refusal = refusal_of_access(descriptor, process_user(), nullptr, use);
  // The folder is looked at only for a file of another owner, whom it may excuse.
  if (refusal != FileRefusal::other_owner) return refusal;
  PSID around = nullptr;
  const OwnedDescriptor kept = folder_owner(file, around);
  return refusal_of_access(descriptor, process_user(), around, use);
}

// A device's name, a link or a folder is refused before anything opens it.
std::error_code refusal_of_kind(const std::filesystem::path& file) {
  // A device's name is the device in every folder; looking at it may already open it.
  if (is_device_name(file.filename())) return FileRefusal::device;
  const DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return system_error(GetLastError());
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FileRefusal::link;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileRefusal::folder;
  return {};
}

constexpr SECURITY_INFORMATION judged = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

}  // namespace

std::error_code resolve_regular_file(const std::filesystem::path& file,
                                     std::filesystem::path& target, FileUse use) {
  target = file;
  if (auto refusal = refusal_of_kind(file)) return refusal;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT, judged, nullptr, nullptr,
                                            nullptr, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) return system_error(error);
  const OwnedDescriptor kept(descriptor);
  return refusal_of_standing(descriptor, file, use);
}

std::error_code read_trusted_bytes(const std::filesystem::path& path, std::size_t limit,
                                   std::string& text) {
  text.clear();
  if (auto refusal = refusal_of_kind(path)) return refusal;
  // What is opened is judged, not the name, which may have been given to another file
  // since; a reparse point is opened as itself, never followed.
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ | READ_CONTROL,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return system_error(GetLastError());
  std::error_code error;
  BY_HANDLE_FILE_INFORMATION info{};
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!GetFileInformationByHandle(file, &info)) {
    error = system_error(GetLastError());
  } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    error = FileRefusal::link;
  } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    error = FileRefusal::folder;
  } else if (const DWORD failed = GetSecurityInfo(file, SE_FILE_OBJECT, judged, nullptr, nullptr,
                                                  nullptr, nullptr, &descriptor)) {
    error = system_error(failed);
  } else {
    const OwnedDescriptor kept(descriptor);
    error = refusal_of_standing(descriptor, path, FileUse::content);
  }
  char buffer[4096];
  DWORD count = 0;
  while (!error && text.size() <= limit) {
    if (!ReadFile(file, buffer, sizeof buffer, &count, nullptr)) {
      error = system_error(GetLastError());
    }
    if (error || count == 0) break;
    text.append(buffer, count);
  }
  CloseHandle(file);
  return error;
}
