// A stand-in for the download engine, for tests: its answers are scripted by the test
// (through the StandIn_ calls, found with GetProcAddress) and it records every call with the
// raw bytes of the record it received, so a test can check exactly what the tool sent.
//
// A test that runs the whole program scripts it through the environment instead:
// STANDIN_SCRIPT names a file of lines "init R", "start R", "handle H" and
// "query R STATE TOTAL DONE [ERROR]" (one per answer, in order; ERROR goes to the failure
// reason's field), and every call's name is appended to the file STANDIN_LOG as it happens.
// Lines added to the script while the program runs are read when the answers run out, so a
// test can hold a task in one state until it has done what it wanted meanwhile.
//
// Built twice: as the engine of old that says nothing about failure, and with
// STANDIN_REPORTS_FAILURE as one that exports XLDL_ReportsFailure (answering 1 unless the
// test says otherwise) and XLDL_AddMirror (keeping the task and URL it was given).
#define XLDL_API
#include "engine/XLDownload.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct TCall {
    std::string Name;
    uint32_t Argument = 0;
    std::vector<uint8_t> Record;
};

struct TQueryAnswer {
    uint32_t Result;
    DownloadTaskInfo Info;
};

std::vector<TCall> Calls;
std::deque<TQueryAnswer> Answers;
uint32_t InitResult = 1, StartResult = 1;
TaskHandle NextHandle = 1;
[[maybe_unused]] uint32_t ReportsFailureResult = 1;
[[maybe_unused]] TaskHandle MirrorTask = 0;
[[maybe_unused]] std::string MirrorUrl; // as given, each UTF-16 unit's low byte
// The window the tool gave for the engine's credential dialog, now and when XL_UnInit came.
[[maybe_unused]] HWND PromptOwner = nullptr;
[[maybe_unused]] HWND PromptOwnerAtUnInit = reinterpret_cast<HWND>(-1);

void Record(TCall call) {
    if (const char* log = std::getenv("STANDIN_LOG")) {
        if (FILE* f = std::fopen(log, "a")) {
            std::fprintf(f, "%s %u\n", call.Name.c_str(), call.Argument);
            std::fclose(f);
        }
    }
    Calls.push_back(std::move(call));
}

TQueryAnswer QueryAnswer(uint32_t result, uint8_t state, int64_t total, int64_t done,
                         uint32_t error) {
    TQueryAnswer a{result, {}};
    std::memset(&a.Info, 0, sizeof a.Info);
    a.Info.State = state;
    a.Info.TotalSize = total;
    a.Info.DoneSize = done;
    std::memcpy(reinterpret_cast<uint8_t*>(&a.Info) + InfoErrorOffset, &error, sizeof error);
    return a;
}

// Reads the script's lines from where the last reading stopped. Once the program runs, a line
// is taken only when it is complete (the test may be writing it).
void ReadScript(bool first) {
    static size_t read = 0;
    const char* path = std::getenv("STANDIN_SCRIPT");
    if (!path) return;
    std::ifstream in(path, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    while (read < text.size()) {
        size_t end = text.find('\n', read);
        if (end == std::string::npos) {
            if (!first) break;
            end = text.size();
        }
        std::istringstream words(text.substr(read, end - read));
        read = std::min(end + 1, text.size());
        std::string word;
        words >> word;
        uint64_t a = 0, b = 0;
        int64_t total = 0, done = 0;
        if (word == "init" && words >> a) InitResult = static_cast<uint32_t>(a);
        if (word == "start" && words >> a) StartResult = static_cast<uint32_t>(a);
        if (word == "handle" && words >> a) NextHandle = static_cast<TaskHandle>(a);
        if (word == "query" && words >> a >> b >> total >> done) {
            uint64_t error = 0;
            words >> error;
            Answers.push_back(QueryAnswer(static_cast<uint32_t>(a), static_cast<uint8_t>(b), total,
                                          done, static_cast<uint32_t>(error)));
        }
    }
}

void LoadScript() {
    static bool loaded = false;
    if (loaded) return;
    loaded = true;
    ReadScript(true);
}

template <class T> std::vector<uint8_t> BytesOf(const T* record) {
    if (!record) return {};
    const auto* p = reinterpret_cast<const uint8_t*>(record);
    return {p, p + sizeof(T)};
}

} // namespace

#define STAND_IN extern "C" __declspec(dllexport)

STAND_IN void StandIn_Reset() {
    Calls.clear();
    Answers.clear();
    InitResult = StartResult = 1;
    NextHandle = 1;
    ReportsFailureResult = 1;
    MirrorTask = 0;
    MirrorUrl.clear();
}
STAND_IN void StandIn_SetResults(uint32_t init, uint32_t start, TaskHandle handle) {
    InitResult = init;
    StartResult = start;
    NextHandle = handle;
}
// The next query answers `result` and, when the low byte is set, fills the record.
STAND_IN void StandIn_QueueQuery(uint32_t result, uint8_t state, int64_t total, int64_t done) {
    Answers.push_back(QueryAnswer(result, state, total, done, 0));
}
// The same with a failure reason in its field.
STAND_IN void StandIn_QueueQueryWithError(uint32_t result, uint8_t state, int64_t total,
                                          int64_t done, uint32_t error) {
    Answers.push_back(QueryAnswer(result, state, total, done, error));
}
STAND_IN int StandIn_CallCount() {
    return static_cast<int>(Calls.size());
}
STAND_IN const char* StandIn_CallName(int i) {
    return Calls.at(i).Name.c_str();
}
STAND_IN uint32_t StandIn_CallArgument(int i) {
    return Calls.at(i).Argument;
}
STAND_IN const uint8_t* StandIn_CallRecord(int i, size_t* size) {
    *size = Calls.at(i).Record.size();
    return Calls.at(i).Record.data();
}

uint32_t __stdcall XL_Init() {
    LoadScript();
    Record({"XL_Init", 0, {}});
    return InitResult;
}

uint32_t __stdcall XL_UnInit() {
    LoadScript();
    Record({"XL_UnInit", 0, {}});
    PromptOwnerAtUnInit = PromptOwner;
    return 1;
}

TaskHandle __stdcall XL_CreateTask(DownloadTaskParam* param) {
    LoadScript();
    Record({"XL_CreateTask", 0, BytesOf(param)});
    return NextHandle;
}

uint32_t __stdcall XL_StartTask(TaskHandle task) {
    LoadScript();
    Record({"XL_StartTask", task, {}});
    return StartResult;
}

uint32_t __stdcall XL_QueryTaskInfoEx(TaskHandle task, DownloadTaskInfo* info) {
    LoadScript();
    Record({"XL_QueryTaskInfoEx", task, BytesOf(info)});
    if (Answers.empty()) ReadScript(false);
    if (Answers.empty()) return 0;
    const TQueryAnswer a = Answers.front();
    Answers.pop_front();
    if (EngineTrue(a.Result) && info) *info = a.Info;
    return a.Result;
}

#ifdef STANDIN_REPORTS_FAILURE
// Asked by the tool, not recorded: the calls a test sees stay the five.
extern "C" __declspec(dllexport) uint32_t __stdcall XLDL_ReportsFailure() {
    return ReportsFailureResult;
}
STAND_IN void StandIn_SetReportsFailure(uint32_t result) {
    ReportsFailureResult = result;
}
// Not recorded either, for the same reason; the last task and URL given stay for the test.
extern "C" __declspec(dllexport) uint32_t
    __stdcall XLDL_AddMirror(TaskHandle task, const char16_t* url) {
    MirrorTask = task;
    MirrorUrl.clear();
    for (size_t i = 0; url && url[i] && i < 2084; ++i)
        MirrorUrl += static_cast<char>(url[i]);
    return 1;
}
STAND_IN TaskHandle StandIn_MirrorTask() {
    return MirrorTask;
}
STAND_IN const char* StandIn_MirrorUrl() {
    return MirrorUrl.c_str();
}
// Also not recorded as a call.
extern "C" __declspec(dllexport) void __stdcall XLDL_SetPromptOwner(HWND owner) {
    PromptOwner = owner;
}
STAND_IN HWND StandIn_PromptOwner(bool atUnInit) {
    return atUnInit ? PromptOwnerAtUnInit : PromptOwner;
}
#endif
