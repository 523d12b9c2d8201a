#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The files the programs read for their settings: configurations, passwords, and the TLS
// files handed to the MQTT library. Each is read with a limit, so that a wrong path
// (/dev/zero, a log) is refused at once instead of filling memory.

// Configuration and password files: far more than anyone writes by hand.
inline constexpr std::size_t settings_file_byte_limit = 64u << 10;
// Certificate authorities, certificates and keys: a system's whole CA bundle is about
// 200 kB.
inline constexpr std::size_t certificate_file_byte_limit = 4u << 20;

// The whole file, or nothing and why it cannot be read.
struct FileText {
  std::optional<std::string> text;
  std::string reason;
};

// Reads at most `limit` bytes; a longer file is refused without reading on. A FIFO is
// never waited on: what it holds now is read, and nothing when no writer has it open.
FileText read_limited_file(const std::filesystem::path& path, std::size_t limit);

// A settings file that a folder may hold (lines.conf, rules.conf): its text, an empty
// text when the folder is none or no file has the name, or "<path>: cannot be read:
// why". A file that the trust rule refuses (common/file_trust.h) is "<path>: not used:
// why": it could switch relays at an open or send a password to another broker. A link
// to nothing is such a file, never an absent one.
FileText read_folder_settings(const std::filesystem::path& folder, std::string_view name);

// A settings file named by the operator (a configuration, a password or users file),
// read through the trust rule: its text, or "<path>: not used: why" / "<path>: cannot be
// read: why".
FileText read_settings_file(const std::filesystem::path& path);

// How a secret in this file shows to other users and how to mend it, e.g. "readable by
// others (mode 0644); let only its owner read it (chmod 600)";
// nothing when only its owner can read it. A group may read a file that the
// administrator owns: that is how a service's group is handed a secret
// (root:relayboard-mqtt, mode 0640).
// On Windows the same of its access list: "readable by BUILTIN\Users (its access list); …".
std::optional<std::string> secret_file_exposure(const std::filesystem::path& path);

// The file opened for reading bytes, or nothing with errno set; opening never waits.
std::FILE* open_settings_file(const std::filesystem::path& path);
