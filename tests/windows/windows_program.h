#pragma once

#include <QProcess>
#include <QStringList>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// A Windows program of the build, copied into a folder of its own as an installation
// would place it, and run there under Wine in the tests' session. Its error output is
// kept line by line (without the CR of Windows line ends) as it comes. A program
// without the .exe ending is a Linux one, run directly with the same environment.
class WindowsProgram : public QProcess {
 public:
  WindowsProgram(const std::filesystem::path& installed, const QStringList& arguments,
                 const QStringList& environment = {});
  ~WindowsProgram() override;

  // The first error line that starts with `start`, once it has come.
  std::optional<std::string> wait_for_line(const std::string& start, int timeout_ms = 30000);
  // The error lines so far.
  const std::vector<std::string>& lines();
  // Waits for the end: the exit status, or -1 when it did not end normally in time.
  int finish(int timeout_ms = 60000);
  std::string out;  // the standard output, once finished

 private:
  std::vector<std::string> lines_;
  std::string partial_;
};

// Copies the program `name` (e.g. "relayctl.exe") from the Windows build into `folder`;
// the path of the copy.
std::filesystem::path install_program(const std::string& name, const std::filesystem::path& folder);

// Text as a Windows program wrote it, with LF line ends.
std::string without_cr(std::string text);
