#pragma once

#include <filesystem>
#include <optional>
#include <string>

// The link `com<n>` in a folder that points the panel's port n at the virtual board; the
// folder is made (for this user alone) when it does not exist yet, as on a fresh account.
// An older link of that name is replaced; the link is removed again when this object
// goes, unless something else has taken its place meanwhile.
class ComLink {
 public:
  static std::optional<ComLink> create(const std::filesystem::path& dir, int port,
                                       const std::filesystem::path& target, std::string& error);

  ComLink(ComLink&& other) noexcept;
  ComLink& operator=(ComLink&& other) noexcept;
  ComLink(const ComLink&) = delete;
  ComLink& operator=(const ComLink&) = delete;
  ~ComLink();

  const std::filesystem::path& path() const { return path_; }

 private:
  ComLink(std::filesystem::path path, std::filesystem::path target)
      : path_(std::move(path)), target_(std::move(target)) {}
  void remove();

  std::filesystem::path path_;
  std::filesystem::path target_;
};
