// The partial file at any offset: writes and reads beyond 4 GiB and across the 4 GiB line,
// where a 32-bit offset would wrap. Under Wine the host's file system keeps the file sparse:
// only what is written takes room.
#include "xldl/Files.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace xldl {
namespace {

std::wstring TempPart() {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + L"xldl-part-file-test-" + std::to_wstring(GetCurrentProcessId()) +
           L".part";
}

TEST(PartFile, WritesAndReadsAtOffsetsBeyondFourGiB) {
    const std::wstring path = TempPart();
    TPartFile part;
    ASSERT_EQ(part.Open(path), 0u);
    const int64_t four = int64_t{1} << 32;
    struct {
        int64_t at;
        uint32_t size;
    } writes[] = {{four - 1000, 3000}, {(int64_t{5} << 30) + 12345, 100000}, {17, 10}};
    std::vector<std::vector<uint8_t>> data;
    for (size_t i = 0; i < std::size(writes); ++i) {
        std::vector<uint8_t> bytes(writes[i].size);
        for (size_t k = 0; k < bytes.size(); ++k)
            bytes[k] = static_cast<uint8_t>(k * 7 + i * 31 + 1);
        ASSERT_EQ(part.WriteAt(writes[i].at, bytes.data(), writes[i].size), 0u) << i;
        data.push_back(std::move(bytes));
    }
    EXPECT_EQ(part.Size(), (int64_t{5} << 30) + 12345 + 100000);
    for (size_t i = 0; i < std::size(writes); ++i) {
        std::vector<uint8_t> back(writes[i].size);
        ASSERT_EQ(part.ReadAt(writes[i].at, back.data(), writes[i].size), 0u) << i;
        EXPECT_TRUE(back == data[i]) << "offset " << writes[i].at;
    }
    // What lies between is nothing written: zeros; and the low 32 bits of an offset above
    // 4 GiB are not another place.
    std::vector<uint8_t> gap(1000, 0xff);
    ASSERT_EQ(part.ReadAt(four + 100000, gap.data(), 1000), 0u);
    EXPECT_EQ(gap, std::vector<uint8_t>(1000, 0));
    std::vector<uint8_t> low(10);
    ASSERT_EQ(part.ReadAt(12345, low.data(), 10), 0u);
    EXPECT_EQ(low, std::vector<uint8_t>(10, 0));
    // Past the end: said so, not made up.
    std::vector<uint8_t> past(10);
    EXPECT_EQ(part.ReadAt(part.Size() - 5, past.data(), 10), static_cast<DWORD>(ERROR_HANDLE_EOF));
    part.Close();
    EXPECT_TRUE(DeleteFileW(path.c_str()));
}

} // namespace
} // namespace xldl
