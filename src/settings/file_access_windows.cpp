#include "settings/file_access_windows.h"

// After windows.h:
#include <sddl.h>

#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>

#include "common/wide_text_windows.h"

namespace {

// Rights that read a file's content, or that give them: whoever may change the access
// list or take the file may read it next.
constexpr ACCESS_MASK read_rights = FILE_READ_DATA | WRITE_DAC | WRITE_OWNER;
constexpr ACCESS_MASK write_rights = FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER;

// An entry's rights with the generic ones spelt out as a file's.
ACCESS_MASK file_rights(ACCESS_MASK mask) {
  GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                          FILE_ALL_ACCESS};
  MapGenericMask(&mask, &mapping);
  return mask;
}

bool is_well_known(PSID sid, WELL_KNOWN_SID_TYPE type) {
  return sid && IsWellKnownSid(sid, type);
}

bool same(PSID a, PSID b) {
  return a && b && EqualSid(a, b);
}

bool is_system_or_administrators(PSID sid) {
  return is_well_known(sid, WinLocalSystemSid) || is_well_known(sid, WinBuiltinAdministratorsSid);
}

// LocalService, NetworkService and each service's own account (NT SERVICE\name).
bool is_service_account(PSID sid) {
  if (is_well_known(sid, WinLocalServiceSid) || is_well_known(sid, WinNetworkServiceSid))
    return true;
  const SID_IDENTIFIER_AUTHORITY* authority = GetSidIdentifierAuthority(sid);
  const SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  return std::equal(std::begin(authority->Value), std::end(authority->Value),
                    std::begin(nt.Value)) &&
         *GetSidSubAuthorityCount(sid) > 0 &&
         *GetSidSubAuthority(sid, 0) == SECURITY_SERVICE_ID_BASE_RID;
}

// The accounts that stand for every user of the machine.
bool is_every_user(PSID sid) {
  return is_well_known(sid, WinWorldSid) || is_well_known(sid, WinAuthenticatedUserSid) ||
         is_well_known(sid, WinBuiltinUsersSid) || is_well_known(sid, WinInteractiveSid);
}

// TrustedInstaller, the owner of what Windows installs itself.
bool is_installer(PSID sid) {
  static const std::vector<BYTE> installer = [] {
    PSID parsed = nullptr;
    std::vector<BYTE> bytes;
    if (ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
                               &parsed)) {
      const auto* start = static_cast<const BYTE*>(parsed);
      bytes.assign(start, start + GetLengthSid(parsed));
      LocalFree(parsed);
    }
    return bytes;
  }();
  return !installer.empty() && same(sid, const_cast<BYTE*>(installer.data()));
}

struct GrantedAce {
  PSID sid;
  ACCESS_MASK mask;
  bool allows;
};

// The access list's entries that apply to the file itself, in their order.
std::vector<GrantedAce> entries(PACL acl) {
  std::vector<GrantedAce> found;
  for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(acl, i, &entry)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;
    // The allowed and denied entries, with and without a condition, share one layout; a
    // condition is not weighed: an allowed entry counts as allowing, a denied one as not
    // denying.
    const bool allows = header->AceType == ACCESS_ALLOWED_ACE_TYPE ||
                        header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
    if (!allows && header->AceType != ACCESS_DENIED_ACE_TYPE) continue;
    auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    found.push_back({&ace->SidStart, ace->Mask, allows});
  }
  return found;
}

// The accounts granted any of `rights` by an entry, less what earlier entries deny them
// or everyone, as the system weighs the list; each account once.
std::vector<PSID> granted(PACL acl, ACCESS_MASK rights) {
  std::vector<std::pair<PSID, ACCESS_MASK>> denied;
  std::vector<PSID> accounts;
  for (const GrantedAce& ace : entries(acl)) {
    const ACCESS_MASK mask = file_rights(ace.mask) & rights;
    if (!mask) continue;
    if (!ace.allows) {
      denied.emplace_back(ace.sid, mask);
      continue;
    }
    ACCESS_MASK shut = 0;
    for (const auto& [sid, denial] : denied)
      if (same(sid, ace.sid) || is_well_known(sid, WinWorldSid)) shut |= denial;
    if (!(mask & ~shut)) continue;
    bool known = false;
    for (PSID other : accounts) known |= same(other, ace.sid);
    if (!known) accounts.push_back(ace.sid);
  }
  return accounts;
}

struct Descriptor {
  PSID owner = nullptr;
  PACL acl = nullptr;
  bool has_acl = false;
};

Descriptor parts(PSECURITY_DESCRIPTOR descriptor) {
  Descriptor out;
  BOOL defaulted = FALSE;
  BOOL present = FALSE;
  GetSecurityDescriptorOwner(descriptor, &out.owner, &defaulted);
  GetSecurityDescriptorDacl(descriptor, &present, &out.acl, &defaulted);
  out.has_acl = present && out.acl;
  return out;
}

}  // namespace

PSID process_user() {
  static const std::vector<BYTE> user = [] {
    std::vector<BYTE> buffer;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return buffer;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> info(size);
    if (size && GetTokenInformation(token, TokenUser, info.data(), size, &size)) {
      const PSID sid = reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid;
      const auto* start = static_cast<const BYTE*>(sid);
      buffer.assign(start, start + GetLengthSid(sid));
    }
    CloseHandle(token);
    return buffer;
  }();
  return user.empty() ? nullptr : const_cast<BYTE*>(user.data());
}

std::string account_name(PSID sid) {
  wchar_t name[256];
  wchar_t domain[256];
  DWORD name_size = 256;
  DWORD domain_size = 256;
  SID_NAME_USE use{};
  if (LookupAccountSidW(nullptr, sid, name, &name_size, domain, &domain_size, &use)) {
    const std::string account = narrow(name);
    return domain[0] ? narrow(domain) + "\\" + account : account;
  }
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return "an unknown account";
  std::string said = narrow(text);
  LocalFree(text);
  return said;
}

std::optional<std::string> other_readers(PSECURITY_DESCRIPTOR descriptor, PSID user) {
  const Descriptor file = parts(descriptor);
  if (!file.has_acl) return std::string("everyone (the file has no access list)");
  std::string readers;
  for (PSID reader : granted(file.acl, read_rights)) {
    if (same(reader, user) || same(reader, file.owner) || is_system_or_administrators(reader) ||
        is_well_known(reader, WinCreatorOwnerRightsSid))
      continue;
    if (is_service_account(reader) && is_system_or_administrators(file.owner)) continue;
    readers += (readers.empty() ? "" : ", ") + account_name(reader);
  }
  if (readers.empty()) return std::nullopt;
  return readers;
}

std::error_code refusal_of_access(PSECURITY_DESCRIPTOR descriptor, PSID user, PSID folder_owner,
                                  FileUse use) {
  const Descriptor file = parts(descriptor);
  if (use == FileUse::content) {
    if (!file.has_acl) return FileRefusal::writable_by_others;
    for (PSID writer : granted(file.acl, write_rights))
      if (is_every_user(writer)) return FileRefusal::writable_by_others;
  }
  if (same(file.owner, user) || is_system_or_administrators(file.owner) ||
      is_installer(file.owner) || same(file.owner, folder_owner))
    return {};
  return FileRefusal::other_owner;
}
