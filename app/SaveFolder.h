// Where the installer is saved: "D:\KORVA\" wherever that works, as the maker's customers know
// it; else the user's Downloads folder (wherever the user has moved it) plus "KORVA\"; else
// "Orlenz\KORVA\" in the user's own local application data, made there when missing. A folder
// works only when it is this user's alone (runtime/OwnFolder): one made here gets an access list
// of its own; one found there must be owned by the user (or the system), on a volume with access
// lists, and changeable, deletable and renamable by nobody else, by no folder or link on the
// way either. The folder chosen is held (runtime/FolderHold) from its check on, so that it
// stays the folder checked. When none works there is no folder: never one someone else owns.
// Paths stay UTF-16 throughout: a user's folders may be named in a script the ANSI code page
// does not have.
#pragma once

#include "runtime/FolderHold.h"
#include "runtime/OwnFolder.h"

#include <functional>
#include <string>
#include <vector>

// The folder the maker's customers expect. It is created as "D:\KOrva" (the same folder: the
// file system ignores case).
constexpr const wchar_t* PreferredFolderToCreate = L"D:\\KOrva";
constexpr const wchar_t* PreferredSaveFolder = L"D:\\KORVA\\";
// The folder made inside the fallbacks, and in the local application data the maker's folder
// it is made in.
constexpr const wchar_t* FallbackFolderName = L"KORVA";
constexpr const wchar_t* MakerFolderName = L"Orlenz";

// A folder to try: the name it is created under and the folder as given to the engine (the
// same, ending in a backslash).
struct TSaveFolder {
    std::wstring Create;
    std::wstring Folder;
    // The folder above it may be made too (with an access list of its own).
    bool MakeParent = false;
};

// The folders to try, in order: D:, the Downloads folder as the shell reports it, the local
// application data's. A fallback the system cannot name is left out.
std::vector<TSaveFolder> SaveFolderCandidates();

// Whether `candidate` works: it exists or can be created (its parent must be there, unless it
// may be made too), it is this user's alone as `read` tells while `hold` holds it, and a file
// can be created in it. Makes the folder when missing; `hold` is released when it does not work.
bool PrepareSaveFolder(const TSaveFolder& candidate, TFolderHold& hold,
                       const TFolderReader& read = ReadFolderFacts);

// Told of each candidate tried and whether it works (a log says why a folder was chosen).
using TFolderTried = std::function<void(const TSaveFolder& candidate, bool works)>;

// The first candidate that works, made ready and held in `hold`; empty when none does.
std::wstring ChooseSaveFolder(const std::vector<TSaveFolder>& candidates, TFolderHold& hold,
                              const TFolderReader& read = ReadFolderFacts,
                              const TFolderTried& tried = nullptr);
std::wstring ChooseSaveFolder(TFolderHold& hold);

// A folder the user named for a download that is only kept, never started (/layout): made
// with its parents when missing, and good when a file can be created in it. Its owner is
// not asked: an admin's share is nobody's alone.
bool PrepareGivenFolder(const std::wstring& folder);
