// Where the installer is saved: "D:\KORVA\" wherever that works, as the maker's customers know
// it; else the user's Downloads folder (wherever the user has moved it) plus "KORVA\"; else the
// user's temporary folder plus "KORVA\". A folder works only when it is this user's alone
// (runtime/OwnFolder): one made here gets an access list of its own; one found there must be
// owned by the user (or the system), on a volume with access lists, and changeable by nobody
// else, by no link on the way either. Paths stay UTF-16 throughout: a user's folders may be
// named in a script the ANSI code page does not have.
#pragma once

#include "runtime/OwnFolder.h"

#include <functional>
#include <string>
#include <vector>

// The folder the maker's customers expect. It is created as "D:\KOrva" (the same folder: the
// file system ignores case).
constexpr const wchar_t* PreferredFolderToCreate = L"D:\\KOrva";
constexpr const wchar_t* PreferredSaveFolder = L"D:\\KORVA\\";
// The folder made inside the fallbacks.
constexpr const wchar_t* FallbackFolderName = L"KORVA";

// A folder to try: the name it is created under and the folder as given to the engine (the
// same, ending in a backslash).
struct TSaveFolder {
    std::wstring Create;
    std::wstring Folder;
};

// The folders to try, in order: D:, the Downloads folder as the shell reports it, the
// temporary folder. A fallback the system cannot name is left out.
std::vector<TSaveFolder> SaveFolderCandidates();

// Whether `candidate` works: it exists or can be created (its parent must be there), it is this
// user's alone as `read` tells, and a file can be created in it. Makes the folder when missing.
bool PrepareSaveFolder(const TSaveFolder& candidate, const TFolderReader& read = ReadFolderFacts);

// Told of each candidate tried and whether it works (a log says why a folder was chosen).
using TFolderTried = std::function<void(const TSaveFolder& candidate, bool works)>;

// The first candidate that works, made ready; the last one when none does, so that the
// engine's own failure says why the file cannot be saved. Empty only without candidates.
std::wstring ChooseSaveFolder(const std::vector<TSaveFolder>& candidates,
                              const TFolderReader& read = ReadFolderFacts,
                              const TFolderTried& tried = nullptr);
std::wstring ChooseSaveFolder();

// A folder the user named for a download that is only kept, never started (/layout): made
// with its parents when missing, and good when a file can be created in it. Its owner is
// not asked: an admin's share is nobody's alone.
bool PrepareGivenFolder(const std::wstring& folder);
