// The tool's texts in the engine record's UTF-16 fields: converted from code page 936, with
// an all-or-nothing bound.
#include "app/TaskFields.h"
#include "engine/XLDownload.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(TaskFields, AsciiAndChineseTextConvert) {
    DownloadTaskParam param;
    std::memset(&param, 0, sizeof param);
    EXPECT_TRUE(CopyToUtf16Field("D:\\KORVA\\", param.SavePath));
    EXPECT_EQ(std::u16string(param.SavePath), u"D:\\KORVA\\");
    // Two GBK characters, four bytes: two UTF-16 units.
    EXPECT_TRUE(CopyToUtf16Field("下载", param.FileName));
    EXPECT_EQ(std::u16string(param.FileName), u"\u4E0B\u8F7D");
    EXPECT_TRUE(CopyToUtf16Field("", param.TaskUrl));
    EXPECT_EQ(param.TaskUrl[0], 0);
}

TEST(TaskFields, OneUnitShortOfTheCapacityFitsAndNoMore) {
    char16_t field[260];
    std::memset(field, 0x55, sizeof field);
    EXPECT_TRUE(CopyToUtf16Field(std::string(259, 'a'), field));
    EXPECT_EQ(field[258], u'a');
    EXPECT_EQ(field[259], 0) << "the NUL takes the last unit";

    std::memset(field, 0x55, sizeof field);
    EXPECT_FALSE(CopyToUtf16Field(std::string(260, 'a'), field));
    EXPECT_EQ(field[0], 0) << "nothing of a text that does not fit survives";
    EXPECT_EQ(field[1], 0x5555) << "only the first unit is written";

    // The bound counts UTF-16 units, not bytes: 259 Chinese characters are 518 bytes.
    std::string chinese;
    for (int i = 0; i < 259; ++i)
        chinese += "下";
    EXPECT_TRUE(CopyToUtf16Field(chinese, field));
    EXPECT_EQ(field[258], u'\u4E0B');
    EXPECT_FALSE(CopyToUtf16Field(chinese + "下", field));
}

} // namespace
