#include "wine_session.h"

#include <QProcess>
#include <cstdio>

#include "file_bytes.h"

namespace {

std::filesystem::path from_environment(const char* name, const std::filesystem::path& fallback) {
  const QString value = qEnvironmentVariable(name);
  return value.isEmpty() ? fallback : std::filesystem::path(value.toStdString());
}

// A colour of the user's desktop scheme in the prefix's registry, as 0xRRGGBB.
std::uint32_t desktop_colour(const std::filesystem::path& prefix, const std::string& name) {
  const std::string registry = read_bytes(prefix / "user.reg");
  const auto section = registry.find("\n[Control Panel\\\\Colors]");
  const auto value = registry.find("\n\"" + name + "\"=\"", section);
  if (section == std::string::npos || value == std::string::npos) return 0xFFFFFFFF;
  unsigned red = 0, green = 0, blue = 0;
  std::sscanf(registry.c_str() + value + name.size() + 5, "%u %u %u", &red, &green, &blue);
  return red << 16 | green << 8 | blue;
}

}  // namespace

WineSession& WineSession::get() {
  static WineSession session;
  return session;
}

WineSession::WineSession()
    : build(from_environment("RELAY_WINDOWS_BUILD", RELAY_SOURCE_DIR "/build-win")),
      prefix(from_environment("RELAY_WINE_PREFIX", build / "wine-936")),
      ports(prefix / "relay-ports"),
      screen(std::make_unique<XScreen>()) {
  if (screen->display_name().isEmpty()) {
    error = "Xvfb did not start";
    return;
  }
  environment = QProcessEnvironment::systemEnvironment();
  environment.insert("WINEPREFIX", QString::fromStdString(prefix.string()));
  environment.insert("WINEDEBUG", "-all");
  environment.insert("LANG", "zh_CN.UTF-8");
  environment.insert("LC_ALL", "zh_CN.UTF-8");
  environment.insert("DISPLAY", screen->display_name());
  environment.remove("WAYLAND_DISPLAY");
  std::filesystem::create_directories(ports);
  if (!std::filesystem::exists(prefix / "system.reg") && !run("wineboot", {"--init"})) {
    error = "the Wine prefix " + prefix.string() + " could not be made";
    return;
  }
  // A server left by an interrupted run would keep an old display and port map.
  run("wineserver", {"--kill"});
  if (!map_com1()) {
    error = "COM1 could not be mapped to " + (ports / "com1").string();
    return;
  }
  // Started once here, the server and Wine's background programs serve every
  // program of the tests, each of which then starts in a fraction of the time.
  gray_text = desktop_colour(prefix, "GrayText");
  if (!run("wineserver", {"--persistent"}) || !run("wineboot", {})) {
    error = "the Wine server did not start";
  } else if (!set_dpi(96)) {  // also after a run that ended before it set its DPI back
    error = "the DPI could not be set";
  }
}

WineSession::~WineSession() {
  run("wineserver", {"--kill"});
}

bool WineSession::set_dpi(int dpi) {
  return run("wine", {"reg", "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t",
                      "REG_DWORD", "/d", QString::number(dpi), "/f"});
}

bool WineSession::run(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.setProcessEnvironment(environment);
  process.setStandardOutputFile(QProcess::nullDevice());
  // Wine's output goes to a log, never to the tests' own: the server and Wine's background
  // programs outlive the tests and would hold it open for whoever reads it (CTest). The
  // server holds the board's terminal, and a board's hang-up makes it list its objects.
  process.setStandardErrorFile(QString::fromStdString((prefix / "wine-session.log").string()),
                               QIODevice::Append);
  process.start(program, arguments);
  return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit &&
         process.exitCode() == 0;
}

// Wine links its COM ports when its server starts, from the registry: the value is set
// once, and the server that stores it ended so that the next one reads it.
bool WineSession::map_com1() {
  const std::string link = (ports / "com1").string();
  const std::string value = "\"COM1\"=\"" + link + "\"";
  if (read_bytes(prefix / "system.reg").find(value) != std::string::npos) return true;
  return run("wine", {"reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", "COM1", "/d",
                      QString::fromStdString(link), "/f"}) &&
         run("wineserver", {"--wait"}) &&
         read_bytes(prefix / "system.reg").find(value) != std::string::npos;
}
