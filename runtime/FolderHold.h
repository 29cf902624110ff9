// A folder held in place: open, with delete sharing refused, from the check that it is the
// user's alone until the installer in it has been started. While it is held nobody can rename,
// move or delete it (a rename asks for delete access, which the open refuses to share), and on
// Windows no folder above it either (a folder with anything open below it cannot be renamed):
// so the folder checked is the folder the engine writes into and the shell starts from, not one
// someone else put under its name meanwhile.
#pragma once

#include <windows.h>

#include <string>

class TFolderHold {
public:
    TFolderHold() = default;
    // Holds the folder `path` (a link as the link, and where it leads); Held() says whether it
    // could.
    explicit TFolderHold(const std::wstring& path);
    ~TFolderHold() { Release(); }
    TFolderHold(TFolderHold&& other) noexcept;
    TFolderHold& operator=(TFolderHold&& other) noexcept;
    TFolderHold(const TFolderHold&) = delete;
    TFolderHold& operator=(const TFolderHold&) = delete;

    bool Held() const { return Name != INVALID_HANDLE_VALUE && Target != INVALID_HANDLE_VALUE; }
    // Whether `path` leads to the held folder now.
    bool At(const std::wstring& path) const;
    void Release();

private:
    HANDLE Name = INVALID_HANDLE_VALUE;   // the folder's own entry (a link as the link)
    HANDLE Target = INVALID_HANDLE_VALUE; // the folder it leads to
};
