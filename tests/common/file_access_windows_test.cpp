// The trust rule on Windows: who owns a file and who else may read or write it, judged on
// its security descriptor. Descriptors written as SDDL, and real files made with one.
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

// %U stands for the user who asks, %O for another user.
constexpr const char* user = "S-1-5-21-1-2-3-1001";
constexpr const char* other = "S-1-5-21-1-2-3-1002";

std::string filled(std::string text, const std::string& me = user) {
  for (const auto& [mark, sid] : {std::pair<std::string, std::string>{"%U", me}, {"%O", other}}) {
    for (std::size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, 2, sid);
  }
  return text;
}

struct Descriptor {
  explicit Descriptor(const std::string& sddl) {
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                     &value, nullptr))
        << sddl;
  }
  ~Descriptor() { LocalFree(value); }
  PSECURITY_DESCRIPTOR value = nullptr;
};

struct Sid {
  explicit Sid(const char* text) { EXPECT_TRUE(ConvertStringSidToSidA(text, &value)); }
  ~Sid() { LocalFree(value); }
  PSID value = nullptr;
};

TEST(WindowsFileAccess, WhoElseMayReadASecret) {
  const struct {
    const char* sddl;
    const char* readers;  // "" for nobody else
  } rows[] = {
      {"O:%UD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;%U)", ""},
      {"O:%UD:(A;;FA;;;%U)(A;;FR;;;BU)", "BUILTIN\\Users"},
      {"O:%UD:(A;;FA;;;%U)(A;;0x1200a9;;;WD)(A;;GR;;;AU)",
       "Everyone, NT AUTHORITY\\Authenticated Users"},
      // Denied first, the later grant is no use; granted first, the later denial comes late.
      {"O:%UD:(D;;FR;;;BU)(A;;FR;;;BU)", ""},
      {"O:%UD:(A;;FR;;;BU)(D;;FR;;;BU)", "BUILTIN\\Users"},
      // What is only handed down to the folder's new files is not the file's own.
      {"O:%UD:(A;OICIIO;FA;;;CO)(A;OICIIO;FR;;;BU)(A;;FA;;;%U)", ""},
      // Whoever may change the access list can read next; whoever may only write cannot.
      {"O:%UD:(A;;WD;;;%O)", other},
      {"O:%UD:(A;;FW;;;BU)", ""},
      {"O:%U", "everyone (the file has no access list)"},
      // A service reads what the administrators gave it, not what a user left open to it.
      {"O:BAD:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1301bf;;;LS)", ""},
      {"O:%UD:(A;;FA;;;%U)(A;;FR;;;LS)", "NT AUTHORITY\\LOCAL SERVICE"},
      // The owner of another user's file is no stranger to it; whether it is used at all
      // is the owner rule's.
      {"O:%OD:(A;;FA;;;%O)(A;;FA;;;%U)", ""},
  };
  const Sid me(user);
  for (const auto& row : rows) {
    const Descriptor descriptor(filled(row.sddl));
    const auto readers = other_readers(descriptor.value, me.value);
    EXPECT_EQ(readers.value_or(""), row.readers) << row.sddl;
  }
}

TEST(WindowsFileAccess, AFileAnotherUserCouldHavePlantedOrEveryUserMayWriteIsRefused) {
  const std::error_code used{};
  const std::error_code planted = FileRefusal::other_owner;
  const std::error_code open = FileRefusal::writable_by_others;
  const struct {
    const char* sddl;
    bool folder_of_other;
    std::error_code content;
    std::error_code lock;
  } rows[] = {
      {"O:%UD:(A;;FA;;;%U)(A;;FA;;;SY)", false, used, used},
      {"O:BAD:(A;;FA;;;BA)", false, used, used},
      {"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:(A;;FR;;;WD)", false,
       used, used},
      {"O:%OD:(A;;FA;;;%O)(A;;FR;;;WD)", false, planted, planted},
      // The folder's owner could replace the file anyway.
      {"O:%OD:(A;;FA;;;%O)(A;;FR;;;WD)", true, used, used},
      // Another single user may write it, as a group may on other systems.
      {"O:%UD:(A;;FA;;;%U)(A;;FA;;;%O)", false, used, used},
      // What a folder made at the top of C:\ hands down: every user may change it. A lock's
      // content is never read.
      {"O:%UD:(A;;FA;;;%U)(A;ID;0x1301bf;;;AU)", false, open, used},
      {"O:%UD:(A;;FA;;;%U)(A;;GW;;;BU)", false, open, used},
      // Denied what writes, or what changes the list, the users are kept out.
      {"O:%UD:(A;;FA;;;%U)(D;;FA;;;BU)(A;;FA;;;BU)", false, used, used},
      {"O:%UD:(A;;FA;;;%U)(D;;FW;;;BU)(A;;FA;;;BU)", false, open, used},
      {"O:%U", false, open, used},
  };
  const Sid me(user);
  const Sid stranger(other);
  for (const auto& row : rows) {
    const Descriptor descriptor(filled(row.sddl));
    PSID folder = row.folder_of_other ? stranger.value : me.value;
    EXPECT_EQ(refusal_of_access(descriptor.value, me.value, folder, FileUse::content), row.content)
        << row.sddl;
    EXPECT_EQ(refusal_of_access(descriptor.value, me.value, folder, FileUse::lock), row.lock)
        << row.sddl;
  }
}

// Real files, made with an access list; under Wine the list becomes the file's mode and
// comes back as Wine shows that mode.
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
    const Descriptor descriptor(filled(sddl, me));
    EXPECT_TRUE(SetFileSecurityW(file.c_str(), DACL_SECURITY_INFORMATION, descriptor.value));
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
