#include "look_environment.h"

#include <QLibraryInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

// Fontconfig and Qt's platform theme read their settings once, when the application
// starts. This runs before main: it writes a fontconfig configuration holding only the
// faces of the environment that RELAY_TEST_FONTS names, and asks for the desktop
// theme that RELAY_TEST_THEME names.

namespace {
namespace fs = std::filesystem;

struct FontEnvironment {
  const char* name;
  std::vector<fs::path> cjk_folders;
};

// Latin faces are always there (fontconfig depends on DejaVu); the CJK faces are the
// environment's own.
const fs::path latin_folder = "/usr/share/fonts/truetype/dejavu";
const FontEnvironment font_environments[] = {
    {"wenquanyi", {"/usr/share/fonts/truetype/wqy"}},
    {"noto-cjk", {"/usr/share/fonts/opentype/noto"}},
    {"droid", {"/usr/share/fonts/truetype/droid"}},
    {"no-cjk", {}},
};

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

const FontEnvironment* requested_fonts() {
  for (const FontEnvironment& environment : font_environments) {
    if (variable("RELAY_TEST_FONTS") == environment.name) return &environment;
  }
  return nullptr;
}

bool has_files(const fs::path& folder) {
  std::error_code error;
  return fs::is_directory(folder, error) && !fs::is_empty(folder, error);
}

// Qt's GTK 3 platform theme (Debian: qt6-gtk-platformtheme).
bool gtk3_theme_installed() {
  const fs::path folder =
      fs::path(QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString()) / "platformthemes";
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    if (entry.path().filename().string().rfind("libqgtk3", 0) == 0) return true;
  }
  return false;
}

class LookEnvironment {
 public:
  LookEnvironment() {
    if (const FontEnvironment* fonts = requested_fonts()) write_fontconfig(*fonts);
    // The GTK theme needs an X server: the private one. GTK ends the process where it
    // finds no display, so the theme is asked for only where that server can start.
    if (variable("RELAY_TEST_THEME") == "adwaita-dark" &&
        !QStandardPaths::findExecutable("Xvfb").isEmpty() && gtk3_theme_installed()) {
      qputenv("RELAY_TEST_XVFB", "1");
      qputenv("QT_QPA_PLATFORMTHEME", "gtk3");
      qputenv("GTK_THEME", "Adwaita:dark");
    }
  }

 private:
  void write_fontconfig(const FontEnvironment& fonts) {
    folder_ = std::make_unique<QTemporaryDir>();
    if (!folder_->isValid()) return;
    const fs::path folder = folder_->path().toStdString();
    std::ofstream config(folder / "fonts.conf");
    config << "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n"
           << "  <dir>" << latin_folder.string() << "</dir>\n";
    for (const fs::path& cjk : fonts.cjk_folders) config << "  <dir>" << cjk.string() << "</dir>\n";
    config << "  <cachedir>" << (folder / "cache").string() << "</cachedir>\n</fontconfig>\n";
    config.close();
    qputenv("FONTCONFIG_FILE", QByteArray::fromStdString((folder / "fonts.conf").string()));
  }

  std::unique_ptr<QTemporaryDir> folder_;
};

const LookEnvironment look_environment;
}  // namespace

std::string font_environment() {
  return requested_fonts() ? requested_fonts()->name : "";
}

std::string theme_environment() {
  return variable("RELAY_TEST_THEME");
}

bool font_environment_installed() {
  const FontEnvironment* fonts = requested_fonts();
  if (!fonts) return true;
  for (const fs::path& folder : fonts->cjk_folders) {
    if (!has_files(folder)) return false;
  }
  return true;
}
