#include "runtime/FolderHold.h"

#include <utility>

namespace {

// Open to read its attributes and access list, as the check does; others may do the same and
// write inside, but not delete or rename it.
HANDLE Open(const std::wstring& path, bool follow) {
    return CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
                       nullptr);
}

bool SameFile(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION x{}, y{};
    return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

void Close(HANDLE& h) {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
}

} // namespace

TFolderHold::TFolderHold(const std::wstring& path)
    : Name(Open(path, false)), Target(Open(path, true)) {
    if (!Held()) Release();
}

TFolderHold::TFolderHold(TFolderHold&& other) noexcept
    : Name(std::exchange(other.Name, INVALID_HANDLE_VALUE)),
      Target(std::exchange(other.Target, INVALID_HANDLE_VALUE)) {}

TFolderHold& TFolderHold::operator=(TFolderHold&& other) noexcept {
    if (this != &other) {
        Release();
        Name = std::exchange(other.Name, INVALID_HANDLE_VALUE);
        Target = std::exchange(other.Target, INVALID_HANDLE_VALUE);
    }
    return *this;
}

bool TFolderHold::At(const std::wstring& path) const {
    if (!Held()) return false;
    HANDLE name = Open(path, false), target = Open(path, true);
    const bool same = name != INVALID_HANDLE_VALUE && target != INVALID_HANDLE_VALUE &&
                      SameFile(name, Name) && SameFile(target, Target);
    Close(name);
    Close(target);
    return same;
}

void TFolderHold::Release() {
    Close(Name);
    Close(Target);
}
