// The engine is bound by name when the program loads, through the import library: the five
// calls reach the stand-in engine with their arguments and records intact, and its answers
// come back.
#include "engine/XLDownload.h"
#include "tests/win/StandIn.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(EngineBinding, CallsReachTheEngineByTheirPlainNames) {
    HMODULE engine = GetModuleHandleA("xldl.dll");
    ASSERT_NE(engine, nullptr) << "bound when the program loaded";
    for (const char* name :
         {"XL_Init", "XL_UnInit", "XL_CreateTask", "XL_StartTask", "XL_QueryTaskInfoEx"})
        EXPECT_NE(GetProcAddress(engine, name), nullptr) << name;
    TStandIn s;
    ASSERT_NE(s.Reset, nullptr);
    s.Reset();
    s.SetResults(0x100, 0xFFFFFF01u, 0xCAFE);
    EXPECT_FALSE(EngineTrue(XL_Init())) << "0x100 has a zero low byte";

    DownloadTaskParam param;
    std::memset(&param, 0, sizeof param);
    param.OptionFlag = 0xFFFFFFFFu;
    param.TaskUrl[0] = u'h';
    const TaskHandle task = XL_CreateTask(&param);
    EXPECT_EQ(task, 0xCAFEu);
    EXPECT_TRUE(EngineTrue(XL_StartTask(task)));
    XL_UnInit();

    ASSERT_EQ(s.CallCount(), 4);
    EXPECT_STREQ(s.CallName(1), "XL_CreateTask");
    size_t size = 0;
    const uint8_t* bytes = s.CallRecord(1, &size);
    ASSERT_EQ(size, sizeof(DownloadTaskParam));
    EXPECT_EQ(bytes[4], 'h');
    EXPECT_EQ(bytes[18368], 0xFF);
    EXPECT_STREQ(s.CallName(2), "XL_StartTask");
    EXPECT_EQ(s.CallArgument(2), 0xCAFEu);
    EXPECT_STREQ(s.CallName(3), "XL_UnInit");
}

TEST(EngineBinding, QueriesFillTheRecordOnlyWhenTheyReportSuccess) {
    TStandIn s;
    s.Reset();
    s.QueueQuery(1, StateDownloading, int64_t{3} << 31, 512);
    s.QueueQuery(0, StateFinished, 9, 9);
    DownloadTaskInfo info;
    std::memset(&info, 0, sizeof info);
    EXPECT_TRUE(EngineTrue(XL_QueryTaskInfoEx(7, &info)));
    EXPECT_EQ(info.State, StateDownloading);
    EXPECT_EQ(info.TotalSize, int64_t{3} << 31);
    EXPECT_EQ(info.DoneSize, 512);
    EXPECT_FALSE(EngineTrue(XL_QueryTaskInfoEx(7, &info)));
    EXPECT_EQ(info.State, StateDownloading) << "a failed query leaves the record alone";
    EXPECT_FALSE(EngineTrue(XL_QueryTaskInfoEx(7, &info))) << "nothing scripted: failure";
    EXPECT_EQ(s.CallArgument(0), 7u);
}

} // namespace
