#include "serial/device_holders.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <optional>

namespace fs = std::filesystem;

namespace {

std::string first_line(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// An flock or a lease on the open file shows as a "lock:" line beside its position.
bool holds_lock(const fs::path& fdinfo) {
  std::ifstream in(fdinfo);
  std::string line;
  while (std::getline(in, line)) {
    if (line.starts_with("lock:")) return true;
  }
  return false;
}

std::optional<int> process_number(const std::string& text) {
  int number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return number;
}

// The last part of a path, without the " (deleted)" that marks a program file replaced
// (by an upgrade) while it runs, which a lock file made then names too.
std::string file_name(std::string_view path) {
  constexpr std::string_view deleted = " (deleted)";
  if (path.ends_with(deleted)) path.remove_suffix(deleted.size());
  const auto slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace

std::string process_name(long long pid, const std::string& proc) {
  return first_line(fs::path(proc) / std::to_string(pid) / "comm");
}

bool may_be_program(long long pid, std::string_view lock_program, const std::string& proc) {
  const std::string program = file_name(lock_program);
  const fs::path process = fs::path(proc) / std::to_string(pid);
  constexpr std::size_t comm_length = 15;  // the kernel cuts a process's name there
  const std::string comm = process_name(pid, proc);
  std::error_code error;
  const std::string exe = file_name(fs::read_symlink(process / "exe", error).string());
  std::string command;
  std::getline(std::ifstream(process / "cmdline"), command, '\0');
  const std::string command_name = file_name(command);
  if (comm.empty() && exe.empty() && command_name.empty()) return true;
  return (!comm.empty() && comm == program.substr(0, comm_length)) ||
         (!exe.empty() && exe == program) || (!command_name.empty() && command_name == program);
}

std::optional<bool> process_has_open(long long pid, const std::string& device,
                                     const std::string& proc) {
  std::error_code error;
  fs::path node = fs::canonical(device, error);
  if (error) node = device;
  fs::directory_iterator fd(fs::path(proc) / std::to_string(pid) / "fd", error);
  if (error) return std::nullopt;
  for (const fs::directory_iterator end; !error && fd != end; fd.increment(error)) {
    std::error_code link_error;
    if (fs::read_symlink(fd->path(), link_error) == node && !link_error) return true;
  }
  return false;
}

std::vector<DeviceHolder> device_holders(const std::string& device, const std::string& proc) {
  std::vector<DeviceHolder> holders;
  std::error_code error;
  // A link (com1) and the device it names are one device.
  const fs::path node = fs::canonical(device, error);
  if (error) return holders;
  const std::string self = fs::read_symlink(fs::path(proc) / "self", error).filename().string();

  for (fs::directory_iterator process(proc, error), end; !error && process != end;
       process.increment(error)) {
    const std::string name = process->path().filename().string();
    const auto pid = process_number(name);
    if (!pid || name == self) continue;
    DeviceHolder holder{*pid, {}, false};
    bool holds = false;
    std::error_code fd_error;
    for (fs::directory_iterator fd(process->path() / "fd", fd_error), fd_end;
         !fd_error && fd != fd_end; fd.increment(fd_error)) {
      std::error_code link_error;
      if (fs::read_symlink(fd->path(), link_error) != node || link_error) continue;
      holds = true;
      if (holds_lock(process->path() / "fdinfo" / fd->path().filename())) holder.locked = true;
    }
    if (!holds) continue;
    holder.name = first_line(process->path() / "comm");
    holders.push_back(std::move(holder));
  }
  std::sort(holders.begin(), holders.end(),
            [](const DeviceHolder& a, const DeviceHolder& b) { return a.pid < b.pid; });
  return holders;
}

std::string device_holders_text(const std::string& device, const std::string& proc) {
  std::string text;
  for (const auto& holder : device_holders(device, proc)) {
    // Only the lock tells the program that keeps the port from one that merely has the
    // device open too (a virtual board holds its own end of the line).
    if (!holder.locked) continue;
    if (!text.empty()) text += ", ";
    text += (holder.name.empty() ? std::string("a program") : holder.name) + " (process " +
            std::to_string(holder.pid) + ")";
  }
  return text;
}
