// A host that lets the engine go while its threads still run (it never stopped them, or they
// outlived XL_UnInit's wait inside a call no stop reaches): the engine stays loaded until its
// last thread has ended, rather than being taken from under them. Loaded by hand here, as
// such a host does: this program does not import it.
#include "MirrorTestSupport.h"

namespace mirror {
namespace {

template <class F> F Call(HMODULE engine, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(engine, name)));
}

TEST(EngineUnload, TheEngineStaysLoadedUntilItsLastThreadHasEnded) {
    const std::string out = Root() + "out\\";
    CreateDirectoryA(out.c_str(), nullptr);
    const auto content = Serve("slow.bin", 1 << 20, 41);
    // Every answer pauses after its first bytes: the threads are inside the network then.
    Script(R"({"rules": [{"path": "/slow.bin", "fault": "pause", "bytes": 100000,
                          "seconds": 1, "times": -1}]})");
    SetEnvironmentVariableA("http_proxy", nullptr);
    HMODULE engine = LoadLibraryA("xldl.dll");
    ASSERT_NE(engine, nullptr);
    const auto init = Call<decltype(&XL_Init)>(engine, "XL_Init");
    const auto create = Call<decltype(&XL_CreateTask)>(engine, "XL_CreateTask");
    const auto start = Call<decltype(&XL_StartTask)>(engine, "XL_StartTask");
    const auto query = Call<decltype(&XL_QueryTaskInfoEx)>(engine, "XL_QueryTaskInfoEx");
    ASSERT_TRUE(init && create && start && query);
    ASSERT_TRUE(EngineTrue(init()));
    DownloadTaskParam param;
    FillParam(param, Url("/slow.bin"), out, "slow.bin", true);
    const TaskHandle task = create(&param);
    ASSERT_TRUE(EngineTrue(start(task)));
    DownloadTaskInfo info{};
    for (DWORD begun = GetTickCount(); info.DoneSize == 0 && GetTickCount() - begun < 20000;)
        ASSERT_TRUE(EngineTrue(query(task, &info)));
    ASSERT_GT(info.DoneSize, 0);

    FreeLibrary(engine);
    EXPECT_NE(GetModuleHandleA("xldl.dll"), nullptr) << "taken from under its threads";
    // They carry the download to its end, then let the engine go.
    for (DWORD begun = GetTickCount();
         GetModuleHandleA("xldl.dll") && GetTickCount() - begun < 60000;)
        Sleep(50);
    EXPECT_EQ(GetModuleHandleA("xldl.dll"), nullptr) << "still loaded after its download";
    const auto got = ReadFileBytes(out + "slow.bin");
    ASSERT_TRUE(got);
    EXPECT_TRUE(*got == content);
}

} // namespace
} // namespace mirror
