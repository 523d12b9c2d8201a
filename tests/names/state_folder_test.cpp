#include "names/state_folder.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
// After windows.h:
#include <sddl.h>
#endif

#include <cstdlib>
#include <iterator>
#include <string>
#include <variant>
#include <vector>

#include "names/name_file_layout.h"
#include "names/profile_store.h"
#include "names/rename_logic.h"
#include "names/state_folder_platform.h"
#include "names_test_support.h"
#include "recording_message_boxes.h"

namespace fs = std::filesystem;

namespace {

// The folder and name file chosen, or "problem: <path>" where there is none.
std::string outcome(const StateFolderChoice& choice) {
  if (const auto* problem = std::get_if<StateFolderProblem>(&choice)) {
    return "problem: " + problem->path.string();
  }
  const auto& chosen = std::get<StateFolder>(choice);
  return chosen.name_file.string() + (chosen.per_user ? " (per user)" : "");
}

std::string reason(const StateFolderChoice& choice) {
  const auto* problem = std::get_if<StateFolderProblem>(&choice);
  return problem ? problem->reason : "";
}

}  // namespace

TEST(StateFolder, TheRuleTakesTheOptionThenTheProgramFolderThenThePerUserFolder) {
  // Absolute paths on this system ("/..." here, "C:\\..." on Windows).
  const fs::path root = fs::temp_directory_path().root_path();
  const auto at = [&](const char* path) { return (root / path).string(); };
  const fs::path program = root / "opt/relay";
  struct Case {
    const char* what;
    std::optional<fs::path> names;
    bool writable;
    std::string xdg;
    std::string home;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"portable copy", {}, true, at("x"), at("home/op"), at("opt/relay/name.txt")},
      {"option over a writable folder", root / "data/plant.txt", true, "", "",
       at("data/plant.txt")},
      {"option over a read-only folder", root / "data/plant.txt", false, at("x"), at("h"),
       at("data/plant.txt")},
      {"XDG_CONFIG_HOME",
       {},
       false,
       at("x/cfg"),
       at("home/op"),
       at("x/cfg/relay_panel/name.txt") + " (per user)"},
      {"relative XDG_CONFIG_HOME is ignored",
       {},
       false,
       "cfg",
       at("home/op"),
       at("home/op/.config/relay_panel/name.txt") + " (per user)"},
      {"HOME alone",
       {},
       false,
       "",
       at("home/op"),
       at("home/op/.config/relay_panel/name.txt") + " (per user)"},
      {"neither", {}, false, "", "", "problem: " + at("opt/relay")},
      {"only a relative XDG_CONFIG_HOME", {}, false, "cfg", "", "problem: " + at("opt/relay")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto choice =
        choose_state_folder({program, c.writable, c.names, c.xdg, c.home, PerUserRule::Xdg, {}});
    EXPECT_EQ(fs::path(outcome(choice)).generic_string(), fs::path(c.expected).generic_string());
    if (const auto* chosen = std::get_if<StateFolder>(&choice)) {
      EXPECT_EQ(chosen->folder, chosen->name_file.parent_path());  // links beside the names
    }
  }
}

// An installed program keeps its state per user even where it may write its folder (run
// as root): a folder inside a system folder, its links resolved, or another user's.
TEST(StateFolder, AnInstalledProgramKeepsItsStatePerUserWhateverItMayWrite) {
  const fs::path root = fs::temp_directory_path().root_path();
  const std::string per_user = (root / "home/op/.config/relay_panel/name.txt").string();
  struct Case {
    const char* program;
    const char* real;  // empty: the program folder itself
    bool owned;
    bool installed;
  };
  const std::vector<Case> cases = {
      {"usr/bin", "", true, true},
      {"usr/local/bin", "", true, true},
      {"opt/relay", "", true, true},
      {"opt", "", true, true},
      {"usr/bin/", "", true, true},
      {"home/op/bin", "usr/bin", true, true},
      {"usrlocal/bin", "", true, false},
      {"optimal/relay", "", true, false},
      {"usr/../home/op/relay", "", true, false},
      {"home/op/relay", "", true, false},
      {"home/op/relay", "", false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.program) + " -> " + c.real);
    StateFolderQuery query;
    query.program_dir = root / c.program;
    query.program_dir_writable = true;
    query.home = (root / "home/op").string();
    query.system_folders = {root / "usr", root / "usr/local", root / "opt"};
    query.program_dir_owned = c.owned;
    if (*c.real) query.program_dir_real = root / c.real;
    EXPECT_EQ(installed_program(query), c.installed);
    EXPECT_EQ(
        fs::path(outcome(choose_state_folder(query))).generic_string(),
        fs::path(c.installed ? per_user + " (per user)" : (root / c.program / "name.txt").string())
            .generic_string());
    // Without a per-user folder the operator reads why the program's own is not used.
    query.home.clear();
    if (c.installed) {
      EXPECT_EQ(reason(choose_state_folder(query)),
                std::string(c.owned ? "the program is installed in a system folder"
                                    : "the program's folder belongs to another user") +
                    ", and neither XDG_CONFIG_HOME nor HOME is set to give a per-user folder");
    }
  }
}

TEST(StateFolder, TheWindowsRuleTakesAppDataWhenTheProgramFolderCannotBeWritten) {
  const fs::path root = fs::temp_directory_path().root_path();
  const fs::path program = root / "Program Files" / "Relay panel";
  const fs::path appdata = root / "Users" / "op" / "AppData" / "Roaming";
  const auto rule = [&](bool writable, const fs::path& appdata_value, bool installed = false) {
    StateFolderQuery query{program,       writable, {}, "/x", "/home", PerUserRule::AppData,
                           appdata_value, installed};
    return outcome(choose_state_folder(query));
  };
  const std::string per_user = (appdata / "relay_panel" / "name.txt").string() + " (per user)";
  EXPECT_EQ(rule(true, appdata), (program / "name.txt").string());
  EXPECT_EQ(rule(false, appdata), per_user);
  // Installed: started with administrator rights or not, the same names.
  EXPECT_EQ(rule(true, appdata, true), per_user);
  EXPECT_EQ(rule(false, appdata, true), per_user);
  // XDG_CONFIG_HOME and HOME mean nothing here, nor a relative APPDATA.
  EXPECT_EQ(rule(false, ""), "problem: " + program.string());
  EXPECT_EQ(rule(false, "Roaming"), "problem: " + program.string());
}

TEST(StateFolder, PreparingCreatesThePerUserFolderAndRefusesWhatCannotHoldANameFile) {
  TempFolder dir;
  write_bytes(dir / "plain_file", "x");
  fs::create_directory(dir / "a_folder.txt");
  write_bytes(dir / "kept.txt", "[address 0]\r\n");
  struct Case {
    const char* what;
    StateFolder chosen;
    std::string expected;  // outcome()
    std::string reason;    // its start, for a problem
  };
  const auto per_user = [](const fs::path& folder) {
    return StateFolder{folder, folder / "name.txt", true};
  };
  const auto given = [](const fs::path& file) {
    return StateFolder{file.parent_path(), file, false};
  };
  const std::vector<Case> cases = {
      {"missing per-user folders are made", per_user(dir / "cfg" / "relay_panel"),
       (dir / "cfg" / "relay_panel" / "name.txt").string() + " (per user)", ""},
      {"a per-user folder under a file", per_user(dir / "plain_file" / "relay_panel"),
       "problem: " + (dir / "plain_file" / "relay_panel").string(), "could not be created: "},
      {"a name file in a missing folder", given(dir / "gone" / "names.txt"),
       "problem: " + (dir / "gone" / "names.txt").string(),
       "the folder " + (dir / "gone").string() + " does not exist"},
      {"a name file under a file", given(dir / "plain_file" / "names.txt"),
       "problem: " + (dir / "plain_file" / "names.txt").string(),
       (dir / "plain_file").string() + " is not a folder"},
      {"a folder given as the name file", given(dir / "a_folder.txt"),
       "problem: " + (dir / "a_folder.txt").string(), "it is a folder, not a file"},
      {"an existing name file", given(dir / "kept.txt"), (dir / "kept.txt").string(), ""},
      {"a name file still to be made", given(dir / "new.txt"), (dir / "new.txt").string(), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto choice = prepare_state_folder(c.chosen);
    EXPECT_EQ(outcome(choice), c.expected);
    EXPECT_EQ(reason(choice).substr(0, c.reason.size()), c.reason);
  }
  EXPECT_TRUE(fs::is_directory(dir / "cfg" / "relay_panel"));
  EXPECT_EQ(read_bytes(dir / "kept.txt"), "[address 0]\r\n");
}

TEST(StateFolder, WithoutAFolderTheOperatorIsToldOnceAndNothingElseReadsOrWrites) {
  TempFolder dir;
  fs::create_directory(dir / "a_folder.txt");
  RecordingMessageBoxes messages;
  const StateFolder none = settle_state_folder(dir.path(), dir / "a_folder.txt", messages);
  EXPECT_TRUE(none.folder.empty());
  EXPECT_TRUE(none.name_file.empty());
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0],
            (Message{(dir / "a_folder.txt").string() +
                         ": it is a folder, not a file. The relays' names are not shown and "
                         "renames are not stored.",
                     "File Error", MessageIcon::Critical}));

  // The start and every change of address: the default title, no names, no more boxes.
  ProfileStore profile_store;
  FakeNameView view;
  NameFile names(none.name_file, profile_store, messages, view);
  names.open_or_create();
  for (const char* address : {"0", "1", "255"}) names.load_names(address);
  EXPECT_EQ(view.captions, std::vector<std::string>{std::string(default_title)});
  EXPECT_TRUE(view.labels.empty());
  EXPECT_EQ(messages.shown.size(), 1u);

  // A rename says why it cannot be stored, and writes nowhere.
  RenameLogic rename(none.name_file, profile_store);
  rename.address_text = "1";
  rename.relay_text = "3";
  EXPECT_EQ(rename.stored_name().name, std::nullopt);
  const RenameOutcome outcome = rename.store("Pump");
  EXPECT_FALSE(outcome.stored);
  ASSERT_TRUE(outcome.error);
  EXPECT_NE(outcome.error->text.find("no name file"), std::string::npos);
  EXPECT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(dir.names(), std::vector<std::string>{"a_folder.txt"});
}

#ifndef _WIN32
// As an operator who may not write the program's folder (root gives up its rights):
// the per-user folder is made from the environment, or the program folder is named
// when the environment gives none.
TEST(StateFolder, AProgramFolderTheOperatorCannotWriteSendsTheNamesToThePerUserFolder) {
  TempFolder dir;
  const fs::path program = dir / "program";
  const fs::path home = dir / "home";
  fs::create_directories(program);
  fs::create_directories(home);
  fs::permissions(program, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read |
                               fs::perms::others_exec);
  TempFolder::add_perms(home, fs::perms::all);

  const int status = run_in_child(ChildRole::operator_rights, [&] {
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", home.c_str(), 1);
    const auto per_user = find_state_folder(program, std::nullopt);
    if (outcome(per_user) != (home / ".config/relay_panel/name.txt").string() + " (per user)") {
      return 1;
    }
    if (!fs::is_directory(home / ".config/relay_panel")) return 2;
    ::setenv("XDG_CONFIG_HOME", (home / "xdg").c_str(), 1);
    if (outcome(find_state_folder(program, std::nullopt)) !=
        (home / "xdg/relay_panel/name.txt").string() + " (per user)") {
      return 3;
    }
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("HOME");
    if (outcome(find_state_folder(program, std::nullopt)) != "problem: " + program.string()) {
      return 4;
    }
    // A read-only home: the per-user folder cannot be made, and the reason is the system's.
    ::setenv("HOME", program.c_str(), 1);
    const auto read_only = find_state_folder(program, std::nullopt);
    if (outcome(read_only) != "problem: " + (program / ".config/relay_panel").string()) return 5;
    if (reason(read_only) != "could not be created: Permission denied") return 6;
    // A name file given in a folder the operator cannot write: readable when it exists,
    // refused when it would have to be made.
    if (outcome(find_state_folder(program, program / "new.txt")) !=
        "problem: " + program.string()) {
      return 7;
    }
    return 0;
  });
  EXPECT_EQ(status, 0);
}
#endif

#ifdef _WIN32
// This process's rule: a program folder it cannot make a file in (here a missing one)
// sends the names to %APPDATA%\relay_panel, made at once, whatever the characters of
// the user's folder; one it can write keeps them, and the check leaves no file behind.
TEST(StateFolder, OnWindowsTheNamesGoToAppDataWhenTheProgramFolderRefusesAFile) {
  TempFolder dir;
  const fs::path appdata = dir.path() / L"Roaming \u6e29\u5ea6";
  ASSERT_TRUE(SetEnvironmentVariableW(L"APPDATA", appdata.c_str()));
  const auto per_user = find_state_folder(dir / "missing", std::nullopt);
  ASSERT_TRUE(std::holds_alternative<StateFolder>(per_user)) << reason(per_user);
  EXPECT_EQ(std::get<StateFolder>(per_user).name_file, appdata / "relay_panel" / "name.txt");
  EXPECT_TRUE(std::get<StateFolder>(per_user).per_user);
  EXPECT_TRUE(fs::is_directory(appdata / "relay_panel"));
  EXPECT_EQ(outcome(find_state_folder(dir.path(), std::nullopt)), (dir / "name.txt").string());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  ASSERT_TRUE(SetEnvironmentVariableW(L"APPDATA", nullptr));
  EXPECT_EQ(outcome(find_state_folder(dir / "missing", std::nullopt)),
            "problem: " + (dir / "missing").string());
}

// An installed program, even where this user may write Program Files (as an
// administrator, or under Wine): the names go to %APPDATA%. Program Files is told by
// the system's name for it, whatever the letter case; a folder that only starts alike
// is none of it.
TEST(StateFolder, OnWindowsAProgramUnderProgramFilesKeepsItsNamesInAppData) {
  std::wstring program_files(MAX_PATH, L'\0');
  program_files.resize(GetEnvironmentVariableW(L"ProgramFiles", program_files.data(), MAX_PATH));
  ASSERT_FALSE(program_files.empty());
  const fs::path installed = TempFolder::unique_folder(program_files);
  TempFolder dir;
  ASSERT_TRUE(SetEnvironmentVariableW(L"APPDATA", (dir / "roaming").c_str()));
  const auto choice = find_state_folder(installed, std::nullopt);
  std::wstring upper = installed.wstring();
  CharUpperW(upper.data());
  const bool upper_installed = installed_program_folder(fs::path(upper) / "bin");
  const bool alike_installed = installed_program_folder(program_files + L" Extra\\Relay panel");
  fs::remove_all(installed);
  EXPECT_EQ(outcome(choice),
            (dir / "roaming" / "relay_panel" / "name.txt").string() + " (per user)");
  EXPECT_TRUE(upper_installed);
  EXPECT_FALSE(alike_installed);
  EXPECT_FALSE(installed_program_folder(dir.path()));
}

// As Program Files is to a user: a folder whose access list lets everyone in but lets
// nobody add a file, which the folder's flags do not show.
TEST(StateFolder, OnWindowsAFolderThatRefusesNewFilesSendsTheNamesToAppData) {
  TempFolder dir;
  const fs::path program = dir / "program";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:P(D;;0x2;;;WD)(A;OICI;GA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr));
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  ASSERT_TRUE(CreateDirectoryW(program.c_str(), &attributes));
  LocalFree(descriptor);
  const HANDLE probe = CreateFileW((program / "probe").c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    GTEST_SKIP() << "this system does not enforce folders' access lists (Wine)";
  }
  ASSERT_TRUE(SetEnvironmentVariableW(L"APPDATA", (dir / "roaming").c_str()));
  EXPECT_EQ(outcome(find_state_folder(program, std::nullopt)),
            (dir / "roaming" / "relay_panel" / "name.txt").string() + " (per user)");
}
#endif
