// Whether a folder is this user's alone: the rule, apart from reading the folder (which
// runtime/OwnFolder does on Windows), so that it is tested natively. The installer is saved,
// checked and started from such a folder; a folder someone else may change is where they would
// plant a library beside the installer, swap the checked file, or leave a record of their own;
// one they may rename, or whose parent they may empty, they can swap whole for one of theirs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One entry of a folder's access list that grants something.
struct TGrant {
    bool Ours = false;        // to the user, SYSTEM or the Administrators
    uint32_t Rights = 0;      // the access mask
    bool InheritOnly = false; // for what is made inside only, not the folder itself
};

struct TFolderFacts {
    bool Folder = false;        // there, and a folder
    bool Link = false;          // a reparse point (junction, symbolic link, mount point)
    bool AccessControl = false; // its volume keeps access lists (not FAT or exFAT)
    bool OwnerOurs = false;     // owned by the user, SYSTEM, the Administrators, or the installer
    bool NoAccessList = false;  // a null access list: everyone may do anything
    std::vector<TGrant> Grants;
    // Read following links: the folder's own path on its volume ("X:\..." or "\\server\share\...")
    // where the system tells it; empty otherwise.
    std::wstring FinalPath;
};

// Whether anyone but the user, SYSTEM and the Administrators may write into, delete, rename or
// take over the folder itself (its owner may always change its access list).
bool OthersMayChange(const TFolderFacts& facts);

// The folder itself is fit to hold the installer: a folder on a volume with access lists, owned
// by one of ours, that nobody else may change. (A link is judged by FolderIsOurs: the link and
// where it leads.)
bool OnlyOurs(const TFolderFacts& facts);

// Reads the facts of `path` itself (a link as the link), or with `follow` of where it leads.
using TFolderReader = std::function<TFolderFacts(const std::wstring& path, bool follow)>;

// Whether the folder `path` may hold the installer: it is ours alone (OnlyOurs); every link on
// the way to it, the folder itself included, is one nobody else may change and, for the folder,
// leads to a folder that is ours alone; and nobody else may delete or rename the folder or any
// folder above it, up to the volume's or the share's root, whether by its own rights or by
// its parent's (to delete what is in it), on the way as written and on the folder's own path
// where links lead elsewhere. (Windows and Wine put users' folders behind links of the user's
// own; a link someone else controls, or a folder above that someone else may rename, could be
// made to lead anywhere between the check of the installer and its start.)
bool FolderIsOurs(const std::wstring& path, const TFolderReader& read);
