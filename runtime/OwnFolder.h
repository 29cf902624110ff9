// A folder that is this user's alone, on Windows: reading what its volume, owner and access list
// say (runtime/FolderFacts judges them), and making one with an access list of its own.
#pragma once

#include "runtime/FolderFacts.h"

#include <string>

// What Windows says of `path` itself (a link as the link), or with `follow` of where it leads;
// a path that is not there reads as no folder.
TFolderFacts ReadFolderFacts(const std::wstring& path, bool follow);
// Makes the folder `path` with an access list of its own, inherited from nothing: the user,
// SYSTEM and the Administrators, nobody else. False when it was not made (it may be there).
bool MakeOwnFolder(const std::wstring& path);
