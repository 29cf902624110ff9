// The switches of a run with arguments, read from whole command lines; what the log keeps of
// them; and the exit codes against the README's table.
#include "app/CommandLine.h"
#include "app/ExitCodes.h"
#include "engine/XLDownload.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <string>

namespace {

using F = TArgumentFault;
using M = TRunMode;
using K = TSourceKind;

struct Case {
    const wchar_t* Line;
    F Fault = F::None;
    const wchar_t* Argument = L""; // at fault
    M Mode = M::Window;
    int Mirror = 1;
    K Source = K::Mirrors;
    const wchar_t* SourceText = L"";
    const wchar_t* Layout = L"";
    const wchar_t* Log = L"";
    const wchar_t* Installer = L"";
    bool Help = false;
};

std::string Narrow(const std::wstring& w) {
    return std::string(w.begin(), w.end());
}

TEST(CommandLine, ReadAsTheSwitchesSay) {
    // Without arguments the tool is as always, whatever the program's name looks like.
    for (const wchar_t* line : {L"OrlenzDownloader.exe", L"\"C:\\Program Files\\t.exe\"   ", L""})
        EXPECT_FALSE(ParseCommandLine(line).Given) << Narrow(line);
    const Case cases[] = {
        {L"tool /passive", F::None, L"", M::Passive},
        {L"tool -QUIET", F::None, L"", M::Quiet},
        {L"\"C:\\a b\\tool.exe\" /Quiet", F::None, L"", M::Quiet},
        {L"tool /mirror 2", F::None, L"", M::Window, 2},
        {L"tool -Mirror:1", F::None, L"", M::Window, 1},
        {L"tool /layout \"D:\\lab share\\orlenz\" /passive", F::None, L"", M::Passive, 1,
         K::Mirrors, L"", L"D:\\lab share\\orlenz"},
        {L"tool /layout:\"D:\\a b\"", F::None, L"", M::Window, 1, K::Mirrors, L"", L"D:\\a b"},
        {L"tool /layout relative\\dir", F::None, L"", M::Window, 1, K::Mirrors, L"",
         L"relative\\dir"},
        {L"tool /source http://intranet/orlenz/setup.exe", F::None, L"", M::Window, 1, K::Url,
         L"http://intranet/orlenz/setup.exe"},
        {L"tool -source:HTTPS://h:8443/s.exe?x=1", F::None, L"", M::Window, 1, K::Url,
         L"HTTPS://h:8443/s.exe?x=1"},
        {L"tool /source \\\\server\\share\\setup.exe", F::None, L"", M::Window, 1, K::Path,
         L"\\\\server\\share\\setup.exe"},
        {L"tool /source \"D:\\media files\\setup.exe\" /quiet", F::None, L"", M::Quiet, 1, K::Path,
         L"D:\\media files\\setup.exe"},
        {L"tool /log C:\\logs\\run.log", F::None, L"", M::Window, 1, K::Mirrors, L"", L"",
         L"C:\\logs\\run.log"},
        // After "--" everything is the installer's, as written, switches of ours included.
        {L"tool /quiet -- /S /D=\"C:\\Program Files\\Orlenz\" /passive", F::None, L"", M::Quiet, 1,
         K::Mirrors, L"", L"", L"", L"/S /D=\"C:\\Program Files\\Orlenz\" /passive"},
        {L"tool /quiet --   ", F::None, L"", M::Quiet},
        {L"tool -- /S", F::None, L"", M::Window, 1, K::Mirrors, L"", L"", L"", L"/S"},
        {L"tool \"--\" -x", F::None, L"", M::Window, 1, K::Mirrors, L"", L"", L"", L"-x"},
        // Help wins over everything before "--".
        {L"tool /bogus /?", F::None, L"", M::Window, 1, K::Mirrors, L"", L"", L"", L"", true},
        {L"tool -HELP /quiet /passive", F::None, L"", M::Window, 1, K::Mirrors, L"", L"", L"", L"",
         true},
        {L"tool -- /?", F::None, L"", M::Window, 1, K::Mirrors, L"", L"", L"", L"/?"},
        // Faults, and the argument each names.
        {L"tool /silent", F::Unknown, L"/silent"},
        {L"tool setup.exe", F::Unknown, L"setup.exe"},
        {L"tool /passive -", F::Unknown, L"-"},
        {L"tool /passivex", F::Unknown, L"/passivex"},
        {L"tool /layout", F::MissingValue, L"/layout"},
        {L"tool /layout: /quiet", F::MissingValue, L"/layout:"},
        {L"tool /log /quiet", F::MissingValue, L"/log"},
        {L"tool /source -- /S", F::MissingValue, L"/source"},
        {L"tool /mirror \"\"", F::MissingValue, L"/mirror"},
        {L"tool /quiet:yes", F::NeedsNoValue, L"/quiet:yes"},
        {L"tool /mirror 1 -mirror 2", F::Repeated, L"-mirror"},
        {L"tool /passive /PASSIVE", F::Repeated, L"/PASSIVE"},
        {L"tool /mirror 3", F::BadMirror, L"/mirror 3"},
        {L"tool /mirror:12", F::BadMirror, L"/mirror:12"},
        {L"tool /source ftp://h/setup.exe", F::BadSource, L"/source ftp://h/setup.exe"},
        {L"tool /source http://", F::BadSource, L"/source http://"},
        {L"tool /source http://user:pw@h/s.exe", F::BadSource, L"/source http://user:pw@h/s.exe"},
        {L"tool /source setup.exe", F::BadSource, L"/source setup.exe"},
        {L"tool /source D:\\media\\", F::BadSource, L"/source D:\\media\\"},
        {L"tool /source \\\\server\\setup.exe", F::BadSource, L"/source \\\\server\\setup.exe"},
        {L"tool /source \\\\server", F::BadSource, L"/source \\\\server"},
        {L"tool /source \\\\\\s\\setup.exe", F::BadSource, L"/source \\\\\\s\\setup.exe"},
        {L"tool /source \\\\h\\\\setup.exe", F::BadSource, L"/source \\\\h\\\\setup.exe"},
        {L"tool /source \\\\h\\s\\setup.exe", F::None, L"", M::Window, 1, K::Path,
         L"\\\\h\\s\\setup.exe"},
        {L"tool /quiet /passive", F::QuietAndPassive, L"/quiet /passive"},
        {L"tool /mirror 2 /source http://h/s.exe", F::MirrorAndSource, L"/mirror 2"},
        {L"tool /layout D:\\x -- /S", F::NothingToStart, L"-- /S"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.Line));
        const TCommandLine r = ParseCommandLine(c.Line);
        EXPECT_TRUE(r.Given);
        EXPECT_EQ(r.Fault, c.Fault);
        EXPECT_EQ(r.Argument, c.Argument);
        if (c.Fault != F::None) continue;
        const TSwitches& s = r.Switches;
        EXPECT_EQ(s.Help, c.Help);
        EXPECT_EQ(s.Mode, c.Mode);
        EXPECT_EQ(s.Mirror, c.Mirror);
        EXPECT_EQ(s.Source, c.Source);
        EXPECT_EQ(s.SourceText, c.SourceText);
        EXPECT_EQ(s.Layout, c.Layout);
        EXPECT_EQ(s.Log, c.Log);
        EXPECT_EQ(s.InstallerArguments, c.Installer);
        EXPECT_EQ(s.Unattended(), c.Mode != M::Window || *c.Layout);
    }
}

TEST(CommandLine, SplitAsTheCRuntimeSplits) {
    const struct {
        const wchar_t* Line;
        std::vector<std::wstring> Arguments;
    } cases[] = {
        {L"\"C:\\a\\b c\\t.exe\"x y", {L"x", L"y"}},
        {L"t a\tb  \"c d\"e", {L"a", L"b", L"c de"}},
        {L"t a\\\\b \\\"q\\\" \"\"", {L"a\\\\b", L"\"q\"", L""}},
        {L"t \"a\\\\\" b", {L"a\\", L"b"}},
        {L"t \"say \"\"hi\"\"\" x", {L"say \"hi\"", L"x"}},
        {L"t \"unclosed arg", {L"unclosed arg"}},
        {L"t trailing\\", {L"trailing\\"}},
        {L"t a\\ b\\\\c", {L"a\\", L"b\\\\c"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.Line));
        std::vector<std::wstring> got;
        for (const TArgument& a : SplitArguments(c.Line))
            got.push_back(a.Text);
        EXPECT_EQ(got, c.Arguments);
    }
}

TEST(CommandLine, TheLogKeepsNoSecret) {
    const struct {
        const wchar_t* Url;
        const wchar_t* Kept;
    } urls[] = {
        {L"http://dl1.orlenz.com/service/setup.exe", L"http://dl1.orlenz.com/service/setup.exe"},
        {L"https://user:secret@h:8443/a/setup.exe?token=abc#f", L"https://h:8443/a/setup.exe"},
        {L"http://u:p@w@h?x=1", L"http://h"},
        {L"http://h#frag/x", L"http://h"},
        {L"http://@h/x", L"http://h/x"},
        {L"no scheme", L""},
    };
    for (const auto& u : urls)
        EXPECT_EQ(LoggableUrl(u.Url), u.Kept) << Narrow(u.Url);

    const std::wstring described = DescribeSwitches(
        ParseCommandLine(L"t /quiet /source https://h/s.exe?key=k1 -- /S /PASSWORD=p1 x").Switches);
    EXPECT_EQ(described, L"/quiet /source \"https://h/s.exe\" -- (3 arguments for the installer, "
                         L"not recorded)");
    EXPECT_EQ(DescribeSwitches(ParseCommandLine(L"t /passive /mirror 2 /layout \"D:\\l\" /log x -- "
                                                L"\"a b\"")
                                   .Switches),
              L"/passive /layout \"D:\\l\" /mirror 2 /log \"x\" -- (1 argument for the installer, "
              L"not recorded)");
}

// Every outcome has its code and its words in the README's table of exit codes, the same as
// the log writes them; no failure is 0.
TEST(ExitCodes, AsTheReadmeTableHasThem) {
    std::ifstream readme(README_FILE);
    ASSERT_TRUE(readme) << README_FILE;
    std::map<int, std::string> documented;
    for (std::string line; std::getline(readme, line);) {
        int code = -1;
        char words[256] = {};
        if (std::sscanf(line.c_str(), "| %d | %255[^|]|", &code, words) == 2) {
            std::string w = words;
            documented[code] = w.substr(0, w.find_last_not_of(' ') + 1);
        }
    }
    std::set<std::string> seen;
    for (int code = 0; code <= static_cast<int>(TExitCode::LayoutFinished); ++code) {
        const std::string words = ExitCodeText(static_cast<TExitCode>(code));
        EXPECT_EQ(documented[code], words) << "code " << code;
        EXPECT_TRUE(seen.insert(words).second) << "two codes for " << words;
    }
    EXPECT_EQ(documented.size(), seen.size()) << "the README has codes the tool does not";
    // Engine reasons and troubles that are failures never end as 0 or as a success.
    for (uint32_t error = ErrorBadUrl; error <= ErrorSignInPage; ++error) {
        const TExitCode c = ExitCodeOf(error);
        EXPECT_NE(c, TExitCode::Started);
        EXPECT_NE(c, TExitCode::LayoutFinished);
    }
}

} // namespace
