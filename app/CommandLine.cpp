#include "app/CommandLine.h"

#include <algorithm>
#include <iterator>

namespace {

bool Blank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// The arguments from `pos` on, none of them a program's name.
std::vector<TArgument> SplitFrom(const std::wstring& line, size_t pos) {
    std::vector<TArgument> arguments;
    const size_t n = line.size();
    for (;;) {
        pos = line.find_first_not_of(L" \t", pos);
        if (pos == std::wstring::npos) return arguments;
        TArgument a;
        bool quoted = false;
        while (pos < n && (quoted || !Blank(line[pos]))) {
            size_t slashes = 0;
            while (pos < n && line[pos] == L'\\') {
                ++slashes;
                ++pos;
            }
            if (pos < n && line[pos] == L'"') {
                a.Text.append(slashes / 2, L'\\');
                if (slashes % 2) {
                    a.Text += L'"';
                } else if (quoted && pos + 1 < n && line[pos + 1] == L'"') {
                    a.Text += L'"';
                    ++pos;
                } else {
                    quoted = !quoted;
                }
                ++pos;
            } else {
                a.Text.append(slashes, L'\\');
                if (slashes == 0) a.Text += line[pos++]; // else it is looked at again
            }
        }
        a.End = pos;
        arguments.push_back(a);
    }
}

std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return s;
}

bool StartsWithNoCase(const std::wstring& s, const std::wstring& prefix) {
    return Lower(s.substr(0, prefix.size())) == prefix;
}

// An http:// or https:// URL with a host and no user name: the engine takes no other.
bool IsUrl(const std::wstring& s) {
    for (const wchar_t* scheme : {L"http://", L"https://"}) {
        const std::wstring p = scheme;
        if (!StartsWithNoCase(s, p)) continue;
        const std::wstring authority =
            s.substr(p.size(), s.find_first_of(L"/?#", p.size()) - p.size());
        return !authority.empty() && authority.find(L'@') == std::wstring::npos;
    }
    return false;
}

bool Separator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// A file on a drive ("D:\media\setup.exe") or a share ("\\server\share\setup.exe"): never
// relative, since an unattended run's working folder is anybody's guess.
bool IsFullFilePath(const std::wstring& s) {
    if (s.empty() || Separator(s.back())) return false;
    const bool drive = s.size() > 3 && ((s[0] | 0x20) >= L'a' && (s[0] | 0x20) <= L'z') &&
                       s[1] == L':' && Separator(s[2]);
    if (drive) return true;
    if (s.size() < 2 || s[0] != L'\\' || s[1] != L'\\') return false;
    // The server and the share, then the file.
    const size_t server = s.find(L'\\', 2);
    if (server == std::wstring::npos || server == 2) return false;
    const size_t share = s.find(L'\\', server + 1);
    return share != std::wstring::npos && share > server + 1;
}

enum class TSwitch { Help, Passive, Quiet, Layout, Mirror, Source, Log };

struct TSwitchName {
    const wchar_t* Name;
    TSwitch Switch;
    bool TakesValue;
};

constexpr TSwitchName Names[] = {
    {L"?", TSwitch::Help, false},          {L"help", TSwitch::Help, false},
    {L"passive", TSwitch::Passive, false}, {L"quiet", TSwitch::Quiet, false},
    {L"layout", TSwitch::Layout, true},    {L"mirror", TSwitch::Mirror, true},
    {L"source", TSwitch::Source, true},    {L"log", TSwitch::Log, true},
};

const TSwitchName* Find(const std::wstring& name) {
    for (const TSwitchName& n : Names)
        if (Lower(name) == n.Name) return &n;
    return nullptr;
}

// Digits without the C runtime's wide printf.
std::wstring Decimal(size_t n) {
    const std::string digits = std::to_string(n);
    return std::wstring(digits.begin(), digits.end());
}

bool IsSwitchForm(const std::wstring& a) {
    return a.size() > 1 && (a[0] == L'/' || a[0] == L'-') && a != L"--";
}

} // namespace

std::vector<TArgument> SplitArguments(const std::wstring& line) {
    // The program's name ends at the next quote when it starts with one, else at a blank; no
    // backslash is special in it.
    size_t pos = 0;
    if (!line.empty() && line[0] == L'"') {
        pos = line.find(L'"', 1);
        pos = pos == std::wstring::npos ? line.size() : pos + 1;
    } else {
        pos = std::min(line.find_first_of(L" \t"), line.size());
    }
    return SplitFrom(line, pos);
}

TCommandLine ParseCommandLine(const std::wstring& line) {
    TCommandLine result;
    const std::vector<TArgument> arguments = SplitArguments(line);
    result.Given = !arguments.empty();
    const auto fail = [&](TArgumentFault fault, const std::wstring& argument) {
        result.Fault = fault;
        result.Argument = argument;
        return result;
    };
    TSwitches& s = result.Switches;
    // Asking for help is never a fault, whatever else is wrong.
    for (const TArgument& a : arguments) {
        if (a.Text == L"--") break;
        const TSwitchName* name = IsSwitchForm(a.Text) ? Find(a.Text.substr(1)) : nullptr;
        if (name && name->Switch == TSwitch::Help) {
            s.Help = true;
            return result;
        }
    }
    // Whether the switch was given, and as what (for the faults that name it).
    std::wstring given[static_cast<int>(TSwitch::Log) + 1];
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& a = arguments[i].Text;
        if (a == L"--") {
            s.InstallerArguments = line.substr(arguments[i].End);
            const size_t first = s.InstallerArguments.find_first_not_of(L" \t");
            s.InstallerArguments.erase(0, first == std::wstring::npos ? s.InstallerArguments.size()
                                                                      : first);
            break;
        }
        if (!IsSwitchForm(a)) return fail(TArgumentFault::Unknown, a);
        const size_t colon = a.find(L':');
        const TSwitchName* name =
            Find(a.substr(1, colon == std::wstring::npos ? colon : colon - 1));
        if (!name) return fail(TArgumentFault::Unknown, a);
        std::wstring& seen = given[static_cast<int>(name->Switch)];
        if (!seen.empty()) return fail(TArgumentFault::Repeated, a);
        seen = a;
        std::wstring value;
        if (colon != std::wstring::npos) {
            if (!name->TakesValue) return fail(TArgumentFault::NeedsNoValue, a);
            value = a.substr(colon + 1);
        } else if (name->TakesValue && i + 1 < arguments.size() && arguments[i + 1].Text != L"--" &&
                   arguments[i + 1].Text.rfind(L'/', 0) != 0) {
            value = arguments[++i].Text;
            seen += L" " + value;
        }
        if (name->TakesValue && value.empty()) return fail(TArgumentFault::MissingValue, a);
        switch (name->Switch) {
        case TSwitch::Passive:
            s.Mode = TRunMode::Passive;
            break;
        case TSwitch::Quiet:
            s.Mode = TRunMode::Quiet;
            break;
        case TSwitch::Layout:
            s.Layout = value;
            break;
        case TSwitch::Mirror:
            if (value != L"1" && value != L"2") return fail(TArgumentFault::BadMirror, seen);
            s.Mirror = value == L"1" ? 1 : 2;
            break;
        case TSwitch::Source:
            if (IsUrl(value))
                s.Source = TSourceKind::Url;
            else if (IsFullFilePath(value))
                s.Source = TSourceKind::Path;
            else
                return fail(TArgumentFault::BadSource, seen);
            s.SourceText = value;
            break;
        case TSwitch::Log:
            s.Log = value;
            break;
        case TSwitch::Help:
            break;
        }
    }
    const auto& quiet = given[static_cast<int>(TSwitch::Quiet)];
    const auto& passive = given[static_cast<int>(TSwitch::Passive)];
    if (!quiet.empty() && !passive.empty())
        return fail(TArgumentFault::QuietAndPassive, quiet + L" " + passive);
    const auto& mirror = given[static_cast<int>(TSwitch::Mirror)];
    if (!mirror.empty() && s.Source != TSourceKind::Mirrors)
        return fail(TArgumentFault::MirrorAndSource, mirror);
    if (!s.Layout.empty() && !s.InstallerArguments.empty())
        return fail(TArgumentFault::NothingToStart, L"-- " + s.InstallerArguments);
    return result;
}

namespace {

// Why an argument is refused: for the box (program text) and for the log, by fault.
const struct {
    const char* Box;
    const char* Log;
} FaultTexts[] = {
    {"", ""},
    {"不是本工具的开关（/? 列出所有开关）", "not a switch of this tool"},
    {"缺少值", "its value is missing"},
    {"此开关不带值", "this switch takes no value"},
    {"开关重复", "given twice"},
    {"镜像只能是 1 或 2", "the mirror is 1 or 2"},
    {"既不是 http:// 或 https:// 地址，也不是文件的完整路径",
     "neither an http:// or https:// URL nor the full path of a file"},
    {"/quiet 与 /passive 只能选一个", "a run is either quiet or passive"},
    {"已用 /source 指定来源，不能再选镜像", "a source of one's own takes the place of the mirrors"},
    {"/layout 不启动安装程序，不能带安装程序的参数",
     "/layout starts no installer to give arguments to"},
    {"无法创建该文件夹或在其中写入文件",
     "the folder cannot be made, or no file can be written in it"},
    {"无法写入该记录文件", "the log cannot be written there"},
};
static_assert(std::size(FaultTexts) == static_cast<size_t>(TArgumentFault::LogUnusable) + 1);

} // namespace

std::string ArgumentFaultText(TArgumentFault fault) {
    return FaultTexts[static_cast<size_t>(fault)].Box;
}

std::string ArgumentFaultLogText(TArgumentFault fault) {
    return FaultTexts[static_cast<size_t>(fault)].Log;
}

std::wstring DescribeSwitches(const TSwitches& s) {
    std::wstring text;
    const auto add = [&](const wchar_t* name, const std::wstring& value = L"") {
        text += (text.empty() ? L"" : L" ") + std::wstring(name);
        if (!value.empty()) text += L" \"" + value + L"\"";
    };
    if (s.Mode == TRunMode::Passive) add(L"/passive");
    if (s.Mode == TRunMode::Quiet) add(L"/quiet");
    if (!s.Layout.empty()) add(L"/layout", s.Layout);
    if (s.Source == TSourceKind::Mirrors) add(s.Mirror == 1 ? L"/mirror 1" : L"/mirror 2");
    if (s.Source == TSourceKind::Url) add(L"/source", LoggableUrl(s.SourceText));
    if (s.Source == TSourceKind::Path) add(L"/source", s.SourceText);
    if (!s.Log.empty()) add(L"/log", s.Log);
    const size_t count = SplitFrom(s.InstallerArguments, 0).size();
    if (count)
        text += L" -- (" + Decimal(count) + (count == 1 ? L" argument" : L" arguments") +
                L" for the installer, not recorded)";
    return text;
}

std::wstring LoggableUrl(const std::wstring& url) {
    const size_t scheme = url.find(L"://");
    if (scheme == std::wstring::npos) return {};
    const size_t from = scheme + 3;
    // The authority ends at the first '/', '?' or '#'; a user name and password end at its
    // last '@'.
    size_t end = url.find_first_of(L"/?#", from);
    if (end == std::wstring::npos) end = url.size();
    const size_t at = url.rfind(L'@', end - 1);
    const size_t host = at != std::wstring::npos && at >= from ? at + 1 : from;
    size_t pathEnd = url.find_first_of(L"?#", end);
    if (pathEnd == std::wstring::npos) pathEnd = url.size();
    return url.substr(0, from) + url.substr(host, end - host) + url.substr(end, pathEnd - end);
}

const char* const SwitchesHelpText =
    "OrlenzDownloader [开关] [-- 安装程序的参数]\n"
    "\n"
    "/passive\t显示窗口，立即下载，无须点击；完成后启动安装程序\n"
    "/quiet\t不显示窗口；以 -- 之后的参数启动安装程序，等它结束，\n"
    "\t以它的退出代码结束\n"
    "/layout 文件夹\t只下载并验证到该文件夹，不启动安装程序\n"
    "/mirror 1|2\t首选的镜像\n"
    "/source 地址|路径\t从自己的 http(s) 地址或文件（如 \\\\服务器\\共享\\setup.exe）\n"
    "\t取得安装包，同样验证签名\n"
    "/log 文件\t把本次运行的记录写入该文件（UTF-8）\n"
    "/?，/help\t显示本说明\n"
    "\n"
    "开关不分大小写，/x 与 -x 相同，值可跟在空格或冒号之后。";
