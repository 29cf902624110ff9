// What the shipped binaries carry for Windows to read: both the version of the VERSION file,
// and the program a manifest that the system takes as an activation context and that binds no
// other assembly (common controls 6 would change the window's classic look).
#include "TestPaths.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string Program = WindowsPath(PROGRAM_EXE);
const std::string Engine = WindowsPath(ENGINE_DLL);

std::string Text(const void* data, UINT size) {
    return std::string(static_cast<const char*>(data), size);
}

TEST(ReleaseResources, BothBinariesCarryTheVersionOfTheVersionFile) {
    const std::string expected = std::string(ORLENZ_VERSION) + ".0";
    for (const std::string& path : {Program, Engine}) {
        SCOPED_TRACE(path);
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
        ASSERT_GT(size, 0u) << "no version resource";
        std::vector<char> info(size);
        ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
        for (const auto& [ms, ls] :
             {std::pair{fixed->dwFileVersionMS, fixed->dwFileVersionLS},
              std::pair{fixed->dwProductVersionMS, fixed->dwProductVersionLS}}) {
            std::ostringstream numbers;
            numbers << HIWORD(ms) << '.' << LOWORD(ms) << '.' << HIWORD(ls) << '.' << LOWORD(ls);
            EXPECT_EQ(numbers.str(), expected);
        }
        for (const char* field : {"FileVersion", "ProductVersion"}) {
            void* value = nullptr;
            const std::string key = std::string("\\StringFileInfo\\080404B0\\") + field;
            ASSERT_TRUE(VerQueryValueA(info.data(), key.c_str(), &value, &length)) << field;
            EXPECT_STREQ(static_cast<const char*>(value), ORLENZ_VERSION) << field;
        }
    }
}

TEST(ReleaseResources, TheProgramsManifestIsTheCheckedInOneAndTheSystemTakesIt) {
    const HMODULE module = LoadLibraryExA(Program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    const HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(found, nullptr) << "no manifest";
    const std::string carried =
        Text(LockResource(LoadResource(module, found)), SizeofResource(module, found));
    FreeLibrary(module);
    std::ifstream file(WindowsPath(MANIFEST_FILE), std::ios::binary);
    const std::string checkedIn{std::istreambuf_iterator<char>(file), {}};
    EXPECT_EQ(carried, checkedIn);

    // What the loader does when the program starts: a manifest it cannot read stops the start.
    ACTCTXA request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = Program.c_str();
    request.lpResourceName = MAKEINTRESOURCEA(1);
    const HANDLE context = CreateActCtxA(&request);
    ASSERT_NE(context, INVALID_HANDLE_VALUE) << GetLastError();
    SIZE_T needed = 0;
    QueryActCtxW(0, context, nullptr, ActivationContextDetailedInformation, nullptr, 0, &needed);
    std::vector<char> detail(needed ? needed : sizeof(ACTIVATION_CONTEXT_DETAILED_INFORMATION));
    ASSERT_TRUE(QueryActCtxW(0, context, nullptr, ActivationContextDetailedInformation,
                             detail.data(), detail.size(), &needed))
        << GetLastError();
    // The program's own assembly alone: no dependency.
    EXPECT_EQ(
        reinterpret_cast<ACTIVATION_CONTEXT_DETAILED_INFORMATION*>(detail.data())->ulAssemblyCount,
        1u);
    ReleaseActCtx(context);
}

} // namespace
