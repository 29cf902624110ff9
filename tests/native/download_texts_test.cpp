// The file name of a download URL, the size text of the progress display, and what the status
// line says when an installer was not started.
#include "app/DownloadTexts.h"
#include "engine/XLDownload.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(FileNameFromUrl, LastSegmentOfTheUrl) {
    EXPECT_EQ(FileNameFromUrl("http://dl1.orlenz.com/service/setup.exe"), "setup.exe");
    EXPECT_EQ(FileNameFromUrl("http://dl1.orlenz.com/service/"), "");
    EXPECT_EQ(FileNameFromUrl("setup.exe"), "");
    EXPECT_EQ(FileNameFromUrl(""), "");
    EXPECT_EQ(FileNameFromUrl("/"), "");
    EXPECT_EQ(FileNameFromUrl("http://h/a?x=1/b.exe#top"), "b.exe#top") << "no query handling";
    EXPECT_EQ(FileNameFromUrl("http://h/%E4%B8%8B.exe"), "%E4%B8%8B.exe") << "no decoding";
}

TEST(FileNameFromUrl, CutToTheLimit) {
    const std::string segment(1500, 'a');
    const std::string name = FileNameFromUrl("http://h/" + segment);
    EXPECT_EQ(name.size(), MaxFileNameLength);
    EXPECT_EQ(name, segment.substr(0, 1000));
    EXPECT_EQ(FileNameFromUrl("http://h/" + std::string(1000, 'b')).size(), 1000u);
}

TEST(FormatSizeText, KilobytesRoundHalfToEven) {
    struct Case {
        int64_t Bytes;
        const char* Text;
    };
    for (const Case& c : {Case{0, "0 KB"},
                          {512, "0 KB"},
                          {513, "1 KB"},
                          {1536, "2 KB"},
                          {2560, "2 KB"},
                          {3584, "4 KB"},
                          {1024000, "1000 KB"},
                          {1024512, "1000 KB"}})
        EXPECT_EQ(FormatSizeText(c.Bytes), c.Text) << c.Bytes << " bytes";
}

TEST(FormatSizeText, MegabytesFromOneThousandAndOneKilobytes) {
    struct Case {
        int64_t Bytes;
        const char* Text;
    };
    for (const Case& c : {Case{1024513, "0.98 MB"},
                          {1047552, "1.00 MB"},
                          {1048576, "1.00 MB"},
                          {1179648, "1.13 MB"},
                          {3670016, "3.50 MB"},
                          {2147483647, "2048.00 MB"}})
        EXPECT_EQ(FormatSizeText(c.Bytes), c.Text) << c.Bytes << " bytes";
}

TEST(FormatSizeText, RegionalSeparatorAndSizesBeyondThirtyTwoBits) {
    EXPECT_EQ(FormatSizeText(3670016, ','), "3,50 MB");
    EXPECT_EQ(FormatSizeText(1024000, ','), "1000 KB") << "kilobytes have no separator";
    EXPECT_EQ(FormatSizeText(int64_t{5} << 30), "5120.00 MB");
    EXPECT_EQ(FormatSizeText((int64_t{1} << 32) + 1024 * 1024 * 3 / 2), "4097.50 MB");
}

TEST(FormatSizeText, NegativeCountsStayInKilobytes) {
    EXPECT_EQ(FormatSizeText(-1536), "-2 KB");
    EXPECT_EQ(FormatSizeText(-2047), "-2 KB");
}

// A retry on the other mirror helps only where the mirror may be at fault; for troubles of
// this machine the user's chosen mirror stays chosen.
TEST(MirrorMayHelp, OnlyForTroublesAMirrorCanCause) {
    struct Case {
        uint32_t Error;
        bool OtherMirror;
    };
    for (const Case& c : {Case{ErrorHttpStatus, true},
                          {ErrorNetwork, true},
                          {ErrorRedirects, true},
                          {ErrorVerify, true},
                          {ErrorUnstable, true},
                          {ErrorTls, true},
                          {ErrorInsecureRedirect, true},
                          {ErrorNone, true},
                          {ErrorContentCoded, true},
                          {99, true},
                          {ErrorDiskFull, false},
                          {ErrorFile, false},
                          {ErrorRename, false},
                          {ErrorBadUrl, false},
                          {ErrorInUse, false},
                          {ErrorProxyAuth, false},
                          {ErrorProxyUnreachable, false}})
        EXPECT_EQ(MirrorMayHelp(c.Error), c.OtherMirror) << "engine error " << c.Error;
    struct Trouble {
        TStartTrouble Trouble;
        bool OtherMirror;
    };
    for (const Trouble& t : {Trouble{TStartTrouble::NotTheMakers, true},
                             {TStartTrouble::NotTheMakersKept, true},
                             {TStartTrouble::Older, true},
                             {TStartTrouble::OlderKept, true},
                             {TStartTrouble::Missing, false},
                             {TStartTrouble::InUse, false},
                             {TStartTrouble::Declined, false},
                             {TStartTrouble::Blocked, false},
                             {TStartTrouble::Other, false}})
        EXPECT_EQ(MirrorMayHelp(t.Trouble), t.OtherMirror) << static_cast<int>(t.Trouble);
}

TEST(StartTroubleText, EachTroubleReadsDifferently) {
    const TStartTrouble all[] = {
        TStartTrouble::NotTheMakers, TStartTrouble::NotTheMakersKept, TStartTrouble::Older,
        TStartTrouble::OlderKept,    TStartTrouble::Missing,          TStartTrouble::InUse,
        TStartTrouble::Declined,     TStartTrouble::Blocked,          TStartTrouble::Other};
    std::set<std::string> texts;
    for (const TStartTrouble t : all) {
        const std::string text = StartTroubleText(t);
        texts.insert(text);
        // The download itself did not fail: its texts are not borrowed.
        EXPECT_NE(text.rfind("下载失败", 0), 0u) << text;
    }
    EXPECT_EQ(texts.size(), std::size(all));
    // Only a file that is gone is said to be gone.
    EXPECT_NE(StartTroubleText(TStartTrouble::NotTheMakers).find("已删除"), std::string::npos);
    EXPECT_EQ(StartTroubleText(TStartTrouble::NotTheMakersKept).find("已删除"), std::string::npos);
    EXPECT_NE(StartTroubleText(TStartTrouble::Older).find("已删除"), std::string::npos);
    EXPECT_EQ(StartTroubleText(TStartTrouble::OlderKept).find("已删除"), std::string::npos);
}

} // namespace
