// What the engine's tests share: the mirror that with_mirror.py started for this test (its
// address and folder come in the environment), its fault script and request log, files in
// its folder, and a task run from start to end with every state and byte count it reported.
#pragma once

#include "xldl/UserKey.h"
#include "xldl/XLEngine.h"
#include "xldl/core/Hashes.h"
#include "xldl/core/StateFile.h"

#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace mirror {

// How the engine seals what it leaves for this user (the key is the user's, kept by the system):
// what a test reads or plants as the engine's own.
inline xldl::TSeal UserSeal() {
    return {xldl::UserSealKey().Key, false};
}

inline std::string Env(const char* name) {
    char buffer[2048];
    const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    return n && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

// host:port of the mirror.
inline std::string Address() {
    return Env("XLDL_TEST_MIRROR");
}
// The served folder as Windows sees it, with a trailing backslash.
inline std::string Root() {
    return Env("XLDL_TEST_ROOT_WIN") + "\\";
}
inline std::string Url(const std::string& path) {
    return "http://" + Address() + path;
}

// One HTTP exchange with a test server's control side at `address` (host:port; synchronous,
// direct): the body.
inline std::string Exchange(const std::string& address, const char* verb, const std::string& path,
                            const std::string& body) {
    const std::string host = address.substr(0, address.find(':'));
    const auto port =
        static_cast<INTERNET_PORT>(std::atoi(address.substr(address.find(':') + 1).c_str()));
    HINTERNET net = InternetOpenA("engine-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET con =
        InternetConnectA(net, host.c_str(), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET req = HttpOpenRequestA(con, verb, path.c_str(), nullptr, nullptr, nullptr,
                                     INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    std::string answer;
    if (req && HttpSendRequestA(req, "Content-Type: application/json\r\n", static_cast<DWORD>(-1),
                                const_cast<char*>(body.data()), static_cast<DWORD>(body.size()))) {
        char buffer[65536];
        DWORD got = 0;
        while (InternetReadFile(req, buffer, sizeof buffer, &got) && got)
            answer.append(buffer, got);
    }
    InternetCloseHandle(req);
    InternetCloseHandle(con);
    InternetCloseHandle(net);
    return answer;
}
// The same with the mirror.
inline std::string Exchange(const char* verb, const std::string& path, const std::string& body) {
    return Exchange(Address(), verb, path, body);
}

// Replaces the fault script (JSON), clearing the log.
inline void Script(const std::string& json) {
    ASSERT_EQ(Exchange("POST", "/_mirror/script", json), "ok\n") << json;
}

// The file requests served since the last script, one line each.
inline std::vector<std::string> Log() {
    std::vector<std::string> lines;
    std::istringstream in(Exchange("GET", "/_mirror/log", ""));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Body bytes the mirror has written to its connections since the last script.
inline long long ServedBytes() {
    const std::string stats = Exchange("GET", "/_mirror/stats", "");
    const size_t at = stats.find("\"body_bytes\": ");
    return at == std::string::npos ? -1 : std::atoll(stats.c_str() + at + 14);
}

// Body bytes the mirror has written to each connection since the last script.
inline std::vector<long long> BytesPerConnection() {
    const std::string stats = Exchange("GET", "/_mirror/stats", "");
    std::vector<long long> bytes;
    size_t at = stats.find("\"peers\": {");
    if (at == std::string::npos) return bytes;
    at = stats.find('{', at);
    const size_t end = stats.find('}', at);
    while ((at = stats.find(": ", at + 1)) != std::string::npos && at < end)
        bytes.push_back(std::atoll(stats.c_str() + at + 2));
    return bytes;
}

// Waits until the mirror has had no new file request for a while: requests still on their
// way from connections already closed (a session before, pipelined) have come and gone.
inline void Quiesce() {
    size_t seen = Log().size();
    for (int quiet = 0, rounds = 0; quiet < 3 && rounds < 100; ++rounds) {
        Sleep(150);
        const size_t now = Log().size();
        quiet = now == seen ? quiet + 1 : 0;
        seen = now;
    }
}

// The value of `key=` in a log line ("-" when absent in the request).
inline std::string Field(const std::string& line, const std::string& key) {
    const size_t at = line.find(" " + key + "=");
    if (at == std::string::npos) return {};
    const size_t start = at + key.size() + 2;
    return line.substr(start, line.find(' ', start) - start);
}

inline std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(random());
    return bytes;
}

inline bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    const HANDLE f =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
    return ok && written == bytes.size();
}

// The file's bytes, or nothing when it does not exist.
inline std::optional<std::vector<uint8_t>> ReadFileBytes(const std::string& path) {
    const HANDLE f = CreateFileA(path.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return std::nullopt;
    LARGE_INTEGER size{};
    GetFileSizeEx(f, &size);
    std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    if (!bytes.empty()) ReadFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(f);
    bytes.resize(got);
    return bytes;
}

// Whether a log line is an early request: one that an extra connection sends as it connects,
// before the first answer is in and so under no validator, for the share it would have of a
// large file (the k-th chunk of `chunk` bytes, k = 1..3).
inline bool IsEarlyRequest(const std::string& line, long long chunk = 262144) {
    long long first = -1, last = -1;
    if (Field(line, "if_range") != "-" ||
        std::sscanf(Field(line, "range").c_str(), "bytes=%lld-%lld", &first, &last) != 2)
        return false;
    return first % chunk == 0 && first / chunk >= 1 && first / chunk <= 3 &&
           last == first + chunk - 1;
}

// Whether the mirror's answers with bytes of the file `name` (the last part of their paths)
// all carried validators (true) or none did (false); nothing when there were none, or both.
inline std::optional<bool> AnswersValidated(const std::string& name) {
    int with = 0, without = 0;
    for (const std::string& line : Log()) {
        const size_t from = line.find(' ') + 1;
        const std::string path = line.substr(from, line.find(' ', from) - from);
        if (path.size() <= name.size() ||
            path.compare(path.size() - name.size() - 1, std::string::npos, "/" + name) != 0)
            continue;
        const std::string status = Field(line, "status");
        if (status != "200" && status != "206") continue;
        (Field(line, "validators") == "0" ? without : with) += 1;
    }
    if (with > 0 && without == 0) return true;
    if (without > 0 && with == 0) return false;
    return std::nullopt;
}

inline bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A served file `name` (with folders, '/'-separated) of `size` random bytes.
inline std::vector<uint8_t> Serve(const std::string& name, size_t size, uint32_t seed = 1) {
    auto bytes = RandomBytes(size, seed);
    std::string path = Root();
    for (char c : name) {
        if (c == '/') {
            CreateDirectoryA(path.c_str(), nullptr);
            path += '\\';
        } else {
            path += c;
        }
    }
    EXPECT_TRUE(WriteFileBytes(path, bytes)) << path;
    return bytes;
}

// The state beside `name`'s partial in `folder`, checked: it parses, and every range it
// records holds the served bytes in the partial. The ranges, or nothing when there is no state.
inline std::optional<std::vector<xldl::TByteRange>>
CheckedState(const std::string& folder, const std::string& url, const std::string& name,
             const std::vector<uint8_t>& served) {
    const auto text = ReadFileBytes(folder + name + ".part.state");
    if (!text) return std::nullopt;
    const auto state = xldl::ParseState(std::string(text->begin(), text->end()), url, name,
                                        nullptr, UserSeal());
    EXPECT_TRUE(state) << "a state that does not read whole was left";
    if (!state) return std::nullopt;
    const auto part = ReadFileBytes(folder + name + ".part");
    EXPECT_TRUE(part) << "a state without its partial";
    if (!part) return std::nullopt;
    for (const auto& r : state->Done) {
        EXPECT_LE(r.End, static_cast<int64_t>(part->size()))
            << "the state claims bytes the partial does not hold";
        if (r.End > static_cast<int64_t>(part->size())) continue;
        EXPECT_TRUE(std::equal(part->begin() + r.Start, part->begin() + r.End,
                               served.begin() + r.Start))
            << "recorded bytes " << r.Start << "-" << r.End << " are not the served ones";
    }
    return state->Done;
}

inline int64_t Bytes(const std::vector<xldl::TByteRange>& ranges) {
    int64_t n = 0;
    for (const auto& r : ranges)
        n += r.End - r.Start;
    return n;
}

// Everything one task reported, from start to end.
struct TRun {
    bool Started = false;
    std::vector<uint8_t> States;        // each state, when it changed
    std::vector<DownloadTaskInfo> Seen; // every answer
    DownloadTaskInfo Last{};
    int DoneDecreases = 0; // times DoneSize went down between two answers
    bool SawDownloadingWithBytes = false;

    uint8_t State() const { return Last.State; }
    uint32_t Error() const { return InfoField(Last, InfoErrorOffset); }
    uint32_t Http() const { return InfoField(Last, InfoHttpStatusOffset); }
    uint32_t Restarts() const { return InfoField(Last, InfoRestartsOffset); }
    bool Saw(uint8_t state) const {
        for (uint8_t s : States)
            if (s == state) return true;
        return false;
    }
};

inline void FillParam(DownloadTaskParam& p, const std::string& url, const std::string& folder,
                      const std::string& name, bool manyConnections) {
    std::memset(&p, 0, sizeof p);
    for (size_t i = 0; i < url.size(); ++i)
        p.TaskUrl[i] = static_cast<char16_t>(url[i]);
    for (size_t i = 0; i < name.size(); ++i)
        p.FileName[i] = static_cast<char16_t>(name[i]);
    for (size_t i = 0; i < folder.size(); ++i)
        p.SavePath[i] = static_cast<char16_t>(folder[i]);
    p.OptionFlag = manyConnections ? 0xFFFFFFFFu : 0;
}

// Polls a started task every few milliseconds until `stop` says so (by default: finished or
// failed) or `timeoutMs` pass.
template <class Stop> void Follow(TaskHandle task, TRun& run, unsigned timeoutMs, Stop stop) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        DownloadTaskInfo info;
        std::memset(&info, 0xCC, sizeof info);
        if (EngineTrue(XL_QueryTaskInfoEx(task, &info))) {
            if (!run.Seen.empty() && info.DoneSize < run.Seen.back().DoneSize) ++run.DoneDecreases;
            if (run.States.empty() || run.States.back() != info.State)
                run.States.push_back(info.State);
            if (info.State == StateDownloading && info.DoneSize > 0)
                run.SawDownloadingWithBytes = true;
            run.Seen.push_back(info);
            run.Last = info;
            if (stop(info)) return;
        }
        Sleep(5);
    }
}

inline bool Ended(const DownloadTaskInfo& info) {
    return info.State == StateFinished || info.State == StateFailed;
}

// Creates and starts a task that downloads `url` into `folder` as `name`; `run.Started` says
// whether the engine took it.
inline TaskHandle StartDownload(const std::string& url, const std::string& folder,
                                const std::string& name, bool manyConnections, TRun& run) {
    static DownloadTaskParam param;
    FillParam(param, url, folder, name, manyConnections);
    const TaskHandle task = XL_CreateTask(&param);
    std::memset(&param, 0xEE, sizeof param); // the engine must have taken its copy
    run.Started = EngineTrue(XL_StartTask(task));
    return task;
}

// Downloads `url` into `folder` as `name` and follows the task to its end.
inline TRun Download(const std::string& url, const std::string& folder, const std::string& name,
                     bool manyConnections = false, unsigned timeoutMs = 30000) {
    TRun run;
    const TaskHandle task = StartDownload(url, folder, name, manyConnections, run);
    if (run.Started) Follow(task, run, timeoutMs, Ended);
    return run;
}

// The engine with the tunables of `env` ("NAME=value" each), set before XL_Init reads them.
inline void StartEngine(const std::vector<std::string>& env) {
    for (const auto& e : env) {
        const size_t eq = e.find('=');
        SetEnvironmentVariableA(e.substr(0, eq).c_str(),
                                eq + 1 < e.size() ? e.c_str() + eq + 1 : nullptr);
    }
    ASSERT_TRUE(EngineTrue(XL_Init()));
}

// Tunables that keep fault scenarios short.
inline std::vector<std::string> QuickTunables() {
    return {"XLDL_STALL_MS=700",
            "XLDL_RETRY_BASE_MS=20",
            "XLDL_RETRY_CAP_MS=2000",
            "XLDL_GIVE_UP_MS=3000",
            "XLDL_MAX_CONNECTIONS=4",
            "XLDL_SEGMENT_BYTES=262144",
            "XLDL_RENAME_WAIT_MS=3000",
            "http_proxy=",
            "HTTP_PROXY="};
}

// A test with a fresh engine and an empty fault script; downloads land in <root>\out\.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Address().empty()) << "run through tools/mirror/with_mirror.py";
        Out = Root() + "out\\";
        CreateDirectoryA(Out.c_str(), nullptr);
        Script("{}");
        StartEngine(QuickTunables());
    }
    void TearDown() override {
        XL_UnInit();
        SetEnvironmentVariableA("http_proxy", nullptr);
    }

    // The task ended finished with exactly `content` under `name`, nothing left beside it.
    void ExpectFinished(const TRun& run, const std::string& name,
                        const std::vector<uint8_t>& content, bool mayRestart = false) {
        ASSERT_EQ(run.State(), StateFinished) << "error " << run.Error() << " http " << run.Http();
        EXPECT_EQ(run.Last.TotalSize, static_cast<int64_t>(content.size()));
        EXPECT_EQ(run.Last.DoneSize, static_cast<int64_t>(content.size()));
        const auto got = ReadFileBytes(Out + name);
        ASSERT_TRUE(got) << "no file under the final name";
        EXPECT_TRUE(*got == content) << "the file differs from the served one (" << got->size()
                                     << " bytes against " << content.size() << ")";
        EXPECT_FALSE(Exists(Out + name + ".part")) << "temporary file left behind";
        // The record of the finished file is there where its answers named it by a validator,
        // and only there; it holds the SHA-256 of these very bytes (taken while they came,
        // whatever restarts and resumes there were).
        const auto record = ReadFileBytes(Out + name + ".done");
        if (const auto validated = AnswersValidated(name)) {
            EXPECT_EQ(record.has_value(), *validated)
                << (*validated ? "no record, though every answer had validators"
                               : "a record, though no answer had validators");
        }
        if (record) {
            xldl::TSha256 sha;
            sha.Update(content.data(), content.size());
            std::string hex;
            for (uint8_t b : sha.Final()) {
                char two[3];
                std::snprintf(two, sizeof two, "%02x", b);
                hex += two;
            }
            const std::string text(record->begin(), record->end());
            EXPECT_NE(text.find("\nsha-256 " + hex + "\n"), std::string::npos) << text;
        }
        if (!mayRestart) {
            EXPECT_EQ(run.DoneDecreases, 0) << "progress went backwards";
            EXPECT_EQ(run.Restarts(), 0u);
        }
        for (uint8_t s : run.States)
            EXPECT_NE(s, StateFailed);
    }

    // The task failed with `error`, and `name` holds `previous` (or nothing) as before.
    void ExpectFailed(const TRun& run, const std::string& name, uint32_t error,
                      const std::optional<std::vector<uint8_t>>& previous = std::nullopt) {
        ASSERT_EQ(run.State(), StateFailed);
        EXPECT_EQ(run.Error(), error) << "http " << run.Http();
        EXPECT_FALSE(run.Saw(StateFinished));
        const auto got = ReadFileBytes(Out + name);
        if (previous) {
            ASSERT_TRUE(got) << "the existing file was destroyed";
            EXPECT_TRUE(*got == *previous) << "the existing file was changed";
        } else {
            EXPECT_FALSE(got) << "a file appeared under the final name";
        }
        EXPECT_FALSE(Exists(Out + name + ".part")) << "temporary file left behind";
    }

    std::string Out;
};

} // namespace mirror
