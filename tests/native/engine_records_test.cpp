// The engine records as bytes: where each field lands and how sizes are read.
#include "engine/XLDownload.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(EngineRecords, FieldsLandAtTheirByteOffsets) {
    DownloadTaskParam param;
    std::memset(&param, 0, sizeof param);
    param.TaskUrl[0] = u'h';
    param.FileName[259] = u'x';
    param.SavePath[0] = u'D';
    param.OptionFlag = 0xFFFFFFFFu;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&param);
    EXPECT_EQ(bytes[4], 'h');
    EXPECT_EQ(bytes[5], 0);
    EXPECT_EQ(bytes[16532 + 259 * 2], 'x');
    EXPECT_EQ(bytes[17572], 'D');
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(bytes[18368 + i], 0xFF);
    EXPECT_EQ(bytes[18372], 0);
}

TEST(EngineRecords, SizesAreSixtyFourBitWithTheLowHalfFirst) {
    DownloadTaskInfo info;
    std::memset(&info, 0, sizeof info);
    auto* bytes = reinterpret_cast<uint8_t*>(&info);
    // 5 GiB + 7 as an engine writes it, little-endian at offset 1048.
    const uint64_t total = (uint64_t{5} << 30) + 7;
    for (int i = 0; i < 8; ++i)
        bytes[1048 + i] = static_cast<uint8_t>(total >> (8 * i));
    bytes[1120] = 0x34;
    bytes[1121] = 0x12;
    bytes[0] = StateDownloading;
    EXPECT_EQ(info.TotalSize, static_cast<int64_t>(total));
    EXPECT_EQ(info.DoneSize, 0x1234);
    EXPECT_EQ(info.State, 3);
}

TEST(EngineRecords, OnlyTheLowByteOfAResultCounts) {
    EXPECT_TRUE(EngineTrue(1));
    EXPECT_TRUE(EngineTrue(0xFFFFFFFFu));
    EXPECT_FALSE(EngineTrue(0));
    EXPECT_FALSE(EngineTrue(0x100));
    EXPECT_FALSE(EngineTrue(0xFFFFFF00u));
}

} // namespace
