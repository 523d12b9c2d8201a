#include "com_link.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/system_error_text.h"

namespace {

// The folders of `dir` that do not exist yet, made for this user alone (0700), as the
// panel makes its state folder; a folder already there is left as it is.
std::error_code make_link_folder(const std::filesystem::path& dir) {
  std::filesystem::path made;
  for (const auto& part : dir) {
    made /= part;
    if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST)
      return std::error_code(errno, std::generic_category());
  }
  return {};
}

}  // namespace

std::optional<ComLink> ComLink::create(const std::filesystem::path& dir, int port,
                                       const std::filesystem::path& target, std::string& error) {
  namespace fs = std::filesystem;
  const fs::path link = dir / ("com" + std::to_string(port));
  // Made under a temporary name and renamed over the old link, so a panel opening the
  // port at this moment finds either the old board or the new one, never nothing.
  const fs::path temporary =
      dir / (".com" + std::to_string(port) + ".new." + std::to_string(::getpid()));
  std::error_code failure = make_link_folder(dir);
  if (failure) {
    error = "cannot make the link's folder " + dir.string() + ": " + system_error_text(failure);
    return std::nullopt;
  }
  fs::remove(temporary, failure);
  fs::create_symlink(target, temporary, failure);
  if (!failure) fs::rename(temporary, link, failure);
  if (failure) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    error = "cannot place the link " + link.string() + ": " + system_error_text(failure);
    return std::nullopt;
  }
  return ComLink(link, target);
}

ComLink::ComLink(ComLink&& other) noexcept
    : path_(std::move(other.path_)), target_(std::move(other.target_)) {
  other.path_.clear();
}

ComLink& ComLink::operator=(ComLink&& other) noexcept {
  if (this != &other) {
    remove();
    path_ = std::move(other.path_);
    target_ = std::move(other.target_);
    other.path_.clear();
  }
  return *this;
}

ComLink::~ComLink() {
  remove();
}

void ComLink::remove() {
  if (path_.empty()) return;
  std::error_code failure;
  if (std::filesystem::read_symlink(path_, failure) == target_ && !failure) {
    std::filesystem::remove(path_, failure);
  }
  path_.clear();
}
