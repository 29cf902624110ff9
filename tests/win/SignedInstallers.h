// The stand-in installer signed in every way the tool must tell apart
// (tools/signing/sign_test_installers.py), built into SIGNED_INSTALLERS, and putting one where
// the tool will look for its download.
#pragma once

#include "tests/win/TestPaths.h"

#include <windows.h>

#include <string>

#ifndef SIGNED_INSTALLERS
#error "the test needs SIGNED_INSTALLERS, the folder of the signed stand-in installers"
#endif

// The variant `name` (good, tampered, unsigned, other-publisher, ...) as Windows names it.
inline std::string SignedInstaller(const std::string& name) {
    return WindowsPath(std::string(SIGNED_INSTALLERS) + "/" + name + ".exe");
}

// Copies the variant `name` to `path`, replacing what is there. A stand-in installer that was
// just started may still be running from `path`, and its image cannot be replaced until it ends.
inline bool PutSignedInstaller(const std::string& name, const std::string& path) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    const std::string from = SignedInstaller(name);
    bool copied = false;
    WaitFor(
        [&] {
            copied = CopyFileA(from.c_str(), path.c_str(), FALSE) != FALSE;
            const DWORD error = copied ? 0 : GetLastError();
            return copied || (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED &&
                              error != ERROR_USER_MAPPED_FILE);
        },
        15000);
    return copied;
}
