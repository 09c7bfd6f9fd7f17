#pragma once
// The record of the services a boost stopped: one REG_DWORD value per service under a volatile
// key of the current user, so that it lasts until log-off and no longer. Boost mode is on exactly
// when the record holds a name. Every call opens and closes its own keys and returns the Win32 code
// of the registry call that failed (kSuccess otherwise); an unwritable record stays as it was. A
// missing record is no failure. The callers may go on regardless: the codes are for those who ask.
//
// The key lives where every program of the user may write, and the program runs as administrator:
// it trusts only a key it made itself. No call follows a registry link on the way to the record or
// at it (a link would lead the program's reads, writes and deletes to a key the user could not
// touch), and a write first makes sure the key is the program's own: volatile, not a link, owned
// by the Administrators and, where Windows has integrity levels, labelled High with no-write-up.
// Any other key there is deleted (a link as a link) and made anew; the names a key that is not a
// link holds are carried into the new one, and the restore decides which of them to start.
#include <cstdint>
#include <string>
#include <vector>

#include "common/registry_port.h"

namespace kestrava {

// "Software\Kestrava\Tarnwell Kestrava FREE" and its "BoostedService" subkey.
std::string BoostRecordParentPath();
std::string BoostRecordPath();

// The most names a read returns, and the longest name it takes: a record anyone can write must not
// make the program read without end. No service name comes near either.
inline constexpr std::uint32_t kMaxRecordedNames = 256;
inline constexpr std::size_t kMaxRecordedNameLength = 256;

// Replaces names with the recorded service names in registry enumeration order; a missing record
// gives an empty list, and so does a record that cannot be opened or that is a registry link. A
// value that cannot be read is passed over and its code returned: the names read are kept, since
// each is a stopped service. Only the first kMaxRecordedNames values are read, and a name longer
// than kMaxRecordedNameLength is passed over. passedOver, when given, receives how many values of
// the record are not in names (too long, unreadable or beyond the bound).
WinError ReadBoostedServices(RegistryPort& registry, std::vector<std::string>& names,
                             std::uint32_t* passedOver = nullptr);

// Records (remove false) or forgets (remove true) one service. Recording creates any missing parent
// as volatile and makes the record key the program's own first (see above), every time, so that
// the first write of a boost never lands in a key someone else made. A parent that is a registry
// link is not followed: the write fails with kCantAccessFile. Forgetting a name the record does
// not hold, or forgetting with no record of the program's there, is no failure.
WinError SetBoostedService(RegistryPort& registry, const std::string& serviceName, bool remove);

// What the first write of a boost would meet that the registry shows now: kCantAccessFile when a
// step on the way to the record is a registry link, which the write refuses; kSuccess otherwise.
// It only reads. A registry that refuses the write itself shows only when it is made.
WinError RecordWayBlocked(RegistryPort& registry);

// Deletes the record key with everything under it; its parent stays. A record key that is a link
// is deleted as a link, its target untouched. Nothing to delete is no failure.
WinError ClearBoostedServices(RegistryPort& registry);

}  // namespace kestrava
