// A key of this user's own, which seals what the engine leaves on disk (the state beside a
// partial, the record of a finished file), so that a state or a record someone else planted,
// or copied from another user's folder, is no state at all. Made once and kept in the user's
// part of the registry, protected by the system for this user on this machine alone
// (CryptProtectData), by the rule of xldl/core/SealKey: never replaced. Empty where the system
// cannot keep one: then nothing is sealed, and only what lies in a folder of the user's alone is
// believed; unreadable this run: then nothing on disk is believed, written or removed.
#pragma once

#include "xldl/core/SealKey.h"

#include <functional>
#include <string>

namespace xldl {

// The key kept under HKEY_CURRENT_USER\`path`. `beforeMaking` runs when this process found none
// and is about to make it its own: where another maker may come between.
TKeyStore RegistryKeyStore(const std::string& path, std::function<void()> beforeMaking = {});

// Read once per process.
const TSealKey& UserSealKey();

} // namespace xldl
