#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <system_error>

#include "settings/file_trust.h"

// The trust rule judged on a file's security descriptor, where Windows keeps who owns a
// file and who may read or write it.

// This process's user.
PSID process_user();

// The accounts that `descriptor` lets read the file's content (or change its access list
// so that they could), other than `user`, the file's owner, the system and the
// administrators, named as the system names them ("Everyone", "BUILTIN\Users"); nothing
// when there are none. A service account may read a file that the system or the
// administrators own: that is how a service is handed a secret. A descriptor without an
// access list lets everyone in.
std::optional<std::string> other_readers(PSECURITY_DESCRIPTOR descriptor, PSID user);

// Why a file with `descriptor` in a folder of `folder_owner` is not used, or nothing: it
// belongs to another user than `user`, the system, the administrators, the installer or
// the folder's owner (who could replace it anyway); or, for its content, every user
// (Everyone, Authenticated Users, Users) may write it.
std::error_code refusal_of_access(PSECURITY_DESCRIPTOR descriptor, PSID user, PSID folder_owner,
                                  FileUse use);

// The account's name as the system says it, "DOMAIN\name", or its SID string where the
// system knows no name.
std::string account_name(PSID sid);
