#include "settings/file_trust.h"

#include <string>

namespace {

class FileRefusalCategory : public std::error_category {
 public:
  const char* name() const noexcept override { return "file refusal"; }
  std::string message(int value) const override {
    switch (static_cast<FileRefusal>(value)) {
      case FileRefusal::link:
        return "it is a symbolic link, which is not followed here";
      case FileRefusal::fifo:
        return "it is a FIFO, not a file";
      case FileRefusal::device:
        return "it is a device, not a file";
      case FileRefusal::socket:
        return "it is a socket, not a file";
      case FileRefusal::folder:
        return "it is a folder, not a file";
      case FileRefusal::other_kind:
        return "it is not a regular file";
      case FileRefusal::too_large:
        return "it is larger than " + std::to_string(whole_file_byte_limit >> 20) +
               " MB, the most a name file may hold";
      case FileRefusal::dangling_link:
        return "it is a symbolic link to a file that does not exist";
      case FileRefusal::link_owner:
        return "it is a symbolic link that belongs to another user";
      case FileRefusal::link_target_owner:
        return "it is a symbolic link to a file that belongs to another user";
      case FileRefusal::link_in_shared_folder:
        return "it is a symbolic link in a folder that every user may write";
      case FileRefusal::owner_not_kept:
        return "its owner and group could not be kept (only they or the administrator may "
               "replace it)";
      case FileRefusal::no_backup_name:
        return "every backup name is taken";
      case FileRefusal::other_owner:
        return "it belongs to another user, who may have put it there";
      case FileRefusal::writable_by_others:
        return "every user may write it";
    }
    return "refused";
  }
};

}  // namespace

const std::error_category& file_refusal_category() {
  static const FileRefusalCategory category;
  return category;
}

std::error_code make_error_code(FileRefusal refusal) {
  return {static_cast<int>(refusal), file_refusal_category()};
}

std::filesystem::path containing_folder(const std::filesystem::path& file) {
  return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

bool is_trust_refusal(const std::error_code& error) {
  return error.category() == file_refusal_category() && error != FileRefusal::too_large &&
         error != FileRefusal::owner_not_kept && error != FileRefusal::no_backup_name;
}

TrustedText read_trusted_file(const std::filesystem::path& path, std::size_t limit) {
  std::string text;
  if (const auto why = read_trusted_bytes(path, limit, text)) {
    return {std::nullopt,
            path.string() + (is_trust_refusal(why) ? ": not used: " : ": cannot be read: ") +
                why.message(),
            why == std::errc::no_such_file_or_directory};
  }
  if (text.size() > limit) {
    return {std::nullopt, path.string() + ": cannot be read: larger than " +
                              std::to_string(limit >> 10) + " KiB"};
  }
  return {std::move(text), {}};
}
