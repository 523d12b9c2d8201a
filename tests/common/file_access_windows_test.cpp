// The trust rule on Windows: who owns a file and who else may read or write it, judged on
// its security descriptor. Descriptors written as SDDL, and real files given one.
#include <windows.h>
// After windows.h:
#include <gtest/gtest.h>
#include <sddl.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "settings/file_access_windows.h"
#include "settings/settings_files.h"

namespace {

namespace fs = std::filesystem;

// In the rows %U stands for the user who asks, %O for another user.
constexpr const char* other = "S-1-5-21-1-2-3-1002";

struct Descriptor {
  Descriptor(std::string sddl, const std::string& user) {
    for (const auto& [mark, sid] : {std::pair<std::string, std::string>{"%U", user}, {"%O", other}})
      for (std::size_t at; (at = sddl.find(mark)) != std::string::npos;) sddl.replace(at, 2, sid);
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                     &value, nullptr))
        << sddl;
  }
  ~Descriptor() { LocalFree(value); }
  PSECURITY_DESCRIPTOR value = nullptr;
};

// One table: who else may read a secret with the descriptor ("" for nobody), and whether
// a file with it is used for its content and as a lock.
TEST(WindowsFileAccess, WhoMayReadPlantOrWriteAFile) {
  const std::error_code used{};
  const std::error_code planted = FileRefusal::other_owner;
  const std::error_code open = FileRefusal::writable_by_others;
  const struct {
    const char* sddl;
    const char* readers;
    std::error_code content, lock;
    bool folder_of_other = false;
  } rows[] = {
      {"O:%UD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;%U)", "", used, used},
      {"O:%UD:(A;;FA;;;%U)(A;;FR;;;BU)", "BUILTIN\\Users", used, used},
      {"O:%UD:(A;;FA;;;%U)(A;;0x1200a9;;;WD)(A;;GR;;;AU)",
       "Everyone, NT AUTHORITY\\Authenticated Users", used, used},
      // Denied first, a later grant is no use; granted first, a later denial comes late.
      {"O:%UD:(D;;FR;;;BU)(A;;FR;;;BU)", "", used, used},
      {"O:%UD:(A;;FR;;;BU)(D;;FR;;;BU)", "BUILTIN\\Users", used, used},
      // What is only handed down to the folder's new files is not the file's own.
      {"O:%UD:(A;OICIIO;FA;;;CO)(A;OICIIO;FA;;;BU)(A;;FA;;;%U)", "", used, used},
      // Whoever may change the list can read next; whoever may only write cannot.
      {"O:%UD:(A;;WD;;;%O)", other, used, used},
      {"O:%UD:(A;;FA;;;%U)(A;;GW;;;BU)", "", open, used},
      // What a folder made at the top of C:\ hands down: every user may change it.
      {"O:%UD:(A;;FA;;;%U)(A;ID;0x1301bf;;;AU)", "NT AUTHORITY\\Authenticated Users", open, used},
      // Denied what writes, but not what changes the list, the users may still write.
      {"O:%UD:(A;;FA;;;%U)(D;;FA;;;BU)(A;;FA;;;BU)", "", used, used},
      {"O:%UD:(A;;FA;;;%U)(D;;FW;;;BU)(A;;FA;;;BU)", "BUILTIN\\Users", open, used},
      {"O:%U", "everyone (the file has no access list)", open, used},
      // A service reads what the administrators gave it, not what a user left open to it.
      {"O:BAD:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1301bf;;;LS)", "", used, used},
      {"O:%UD:(A;;FA;;;%U)(A;;FR;;;LS)", "NT AUTHORITY\\LOCAL SERVICE", used, used},
      {"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:(A;;FR;;;WD)", "Everyone",
       used, used},
      // Another user's file, unless the folder is theirs: they could replace it anyway.
      {"O:%OD:(A;;FA;;;%O)(A;;FA;;;%U)", "", planted, planted},
      {"O:%OD:(A;;FA;;;%O)(A;;FA;;;%U)", "", used, used, true},
  };
  const std::string user = "S-1-5-21-1-2-3-1001";
  const Descriptor me("O:%U", user);
  const Descriptor stranger("O:%O", user);
  PSID user_sid = nullptr;
  PSID other_sid = nullptr;
  BOOL defaulted = FALSE;
  GetSecurityDescriptorOwner(me.value, &user_sid, &defaulted);
  GetSecurityDescriptorOwner(stranger.value, &other_sid, &defaulted);
  for (const auto& row : rows) {
    const Descriptor descriptor(row.sddl, user);
    PSID folder = row.folder_of_other ? other_sid : user_sid;
    EXPECT_EQ(other_readers(descriptor.value, user_sid).value_or(""), row.readers) << row.sddl;
    EXPECT_EQ(refusal_of_access(descriptor.value, user_sid, folder, FileUse::content), row.content)
        << row.sddl;
    EXPECT_EQ(refusal_of_access(descriptor.value, user_sid, folder, FileUse::lock), row.lock)
        << row.sddl;
  }
}

// Real files given an access list, read through the rule; under Wine the list becomes
// the file's mode, and comes back as Wine shows that mode.
TEST(WindowsFileAccess, RealFilesAreJudgedByTheirAccessList) {
  wchar_t* text = nullptr;
  ASSERT_TRUE(ConvertSidToStringSidW(process_user(), &text));
  const std::string me(fs::path(text).string());
  LocalFree(text);
  const fs::path folder =
      fs::temp_directory_path() / ("file_access_" + std::to_string(GetCurrentProcessId()));
  fs::create_directories(folder);
  // The list is set once the file is there: Wine makes a new file's mode through the umask.
  const auto make = [&](const char* name, const std::string& sddl) {
    const fs::path file = folder / name;
    std::ofstream(file, std::ios::binary) << "secret\n";
    EXPECT_TRUE(
        SetFileSecurityW(file.c_str(), DACL_SECURITY_INFORMATION, Descriptor(sddl, me).value));
    return file;
  };
  // Wine takes the last entry to clear the mode that the others may have.
  const fs::path closed = make("closed", "D:P(A;;FA;;;%U)(A;;FA;;;SY)(D;;FA;;;WD)");
  const fs::path readable = make("readable", "D:P(A;;FA;;;%U)(A;;FR;;;WD)");
  const fs::path writable = make("writable", "D:P(A;;FA;;;%U)(A;;FA;;;WD)");

  EXPECT_EQ(secret_file_exposure(closed), std::nullopt);
  EXPECT_TRUE(
      secret_file_exposure(readable)->starts_with("readable by Everyone (its access list); "));
  EXPECT_EQ(read_settings_file(closed).text, "secret\n");
  EXPECT_EQ(read_settings_file(writable).reason,
            writable.string() + ": not used: every user may write it");
  fs::path target;
  EXPECT_EQ(resolve_regular_file(writable, target, FileUse::lock), std::error_code{});
  fs::remove_all(folder);
}

}  // namespace
