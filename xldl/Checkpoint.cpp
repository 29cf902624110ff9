#include "xldl/Checkpoint.h"

#include "xldl/Locked.h"
#include "xldl/Threads.h"
#include "xldl/Transfer.h"

#include <algorithm>

namespace xldl {

namespace {

bool EqualNoCase(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() &&
           CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                          b.data(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

// Bytes written since the last record that bring the next one forward.
constexpr int64_t StepBytes = 16 << 20;
// How often the recorder looks at the bytes written.
constexpr uint32_t LookMs = 100;

} // namespace

TCheckpoint::TCheckpoint(std::wstring partPath, std::vector<std::string> urls, std::string name,
                         uint32_t intervalMs, TSeal seal)
    : StatePath(std::move(partPath) + L".state"), Urls(std::move(urls)), Name(std::move(name)),
      IntervalMs(intervalMs), Seal(std::move(seal)) {
    InitializeCriticalSection(&Lock);
    StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SoonEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

TCheckpoint::~TCheckpoint() {
    Stop();
    CloseHandle(StopEvent);
    CloseHandle(SoonEvent);
    DeleteCriticalSection(&Lock);
}

std::optional<TFileFacts> TCheckpoint::TakeUp(TPartFile& part) {
    TLocked l(Lock);
    Part = &part;
    const auto text = ReadSmallFile(StatePath, MaxStateBytes);
    std::optional<TSavedState> state;
    if (text) state = ParseState(*text, Urls, Name, nullptr, Seal);
    const std::string validator = state ? StateValidator(*state) : std::string();
    const auto location = state ? ParseUrl(state->Location) : std::nullopt;
    const int64_t size = part.Size();
    // A state without a validator is taken up too: its ranges are then compared with what
    // the server sends now, where they meet the new ones, before anything is added.
    if (!state || !location || size < 0) {
        // No state, or one we cannot trust: the partial's bytes mean nothing.
        DeleteFileW(StatePath.c_str());
        part.Truncate();
        return std::nullopt;
    }
    // Bytes past the file's end are not the file's; ranges past the partial's end are gone.
    if (size > state->Total) part.SetSize(state->Total);
    const int64_t held = std::min(size, state->Total);
    TFileFacts facts;
    facts.Location = *location;
    facts.Total = state->Total;
    facts.Validator = validator;
    facts.Digest = state->Digest;
    facts.LastModified = state->LastModified;
    facts.Sources.push_back({state->Url, *location, validator});
    for (const TSavedMirror& m : state->Mirrors)
        if (const auto where = ParseUrl(m.Location))
            facts.Sources.push_back({m.Url, *where, MirrorValidator(m)});
    for (const TByteRange& r : state->Done)
        if (r.Start < held) facts.Done.push_back({r.Start, std::min(r.End, held)});
    LastSaved = *text;
    return facts;
}

bool TCheckpoint::Start(TTransfer& transfer, TPartFile& part) {
    {
        TLocked l(Lock);
        Transfer = &transfer;
        Part = &part;
    }
    if (Thread) return true;
    ResetEvent(StopEvent);
    Thread = StartThread(RecorderMain, this);
    return Thread != nullptr;
}

void TCheckpoint::Stop() {
    if (!Thread) return;
    SetEvent(StopEvent);
    WaitForSingleObject(Thread, INFINITE);
    CloseHandle(Thread);
    Thread = nullptr;
}

unsigned __stdcall TCheckpoint::RecorderMain(void* checkpoint) {
    auto* c = static_cast<TCheckpoint*>(checkpoint);
    // Recorded every interval, and sooner once StepBytes have come since the last record: on
    // a fast link the disk is then never far behind the writers, so that no flush (the next,
    // or one at the end) has much to wait for.
    uint64_t last = GetTickCount64();
    int64_t recorded = 0;
    const HANDLE events[] = {c->StopEvent, c->SoonEvent};
    for (;;) {
        const DWORD woken = WaitForMultipleObjects(2, events, FALSE, std::min(c->IntervalMs, LookMs));
        if (woken != WAIT_TIMEOUT && woken != WAIT_OBJECT_0 + 1) break;
        const uint64_t now = GetTickCount64();
        const int64_t done = c->Transfer->Progress().Done;
        if (woken == WAIT_TIMEOUT && now < last + c->IntervalMs && done < recorded + StepBytes)
            continue;
        c->Record();
        last = now;
        recorded = done;
    }
    InterlockedDecrement(&LiveThreads);
    return 0;
}

void TCheckpoint::RecordSoon() {
    SetEvent(SoonEvent);
}

void TCheckpoint::Record() {
    TLocked l(Lock);
    if (!Transfer || !Part || !Part->IsOpen()) return;
    // Taken before the flush: every range in it was written before the flush began.
    const TFileFacts facts = Transfer->Facts();
    // A length that only a closed connection showed is not the file's until a second fetch
    // agrees: no state may say it is whole.
    const bool unproven = facts.EndUnproven && facts.Digest.Kind == TDigestKind::None;
    if (facts.Total < 0 || facts.Done.empty() || unproven) {
        // Nothing a later task could take up.
        if (!LastSaved.empty()) DeleteFileW(StatePath.c_str());
        LastSaved.clear();
        return;
    }
    TSavedState s;
    // The source that defined the file leads; the others follow with what is their own.
    s.Url = facts.Sources.empty() ? Urls.front() : facts.Sources.front().Url;
    s.Name = Name;
    s.Location = FormatUrl(facts.Location);
    s.Total = facts.Total;
    SetStateValidator(s, facts.Validator);
    // The file's date stays beside an entity tag: it is what another mirror is judged by.
    if (s.LastModified.empty()) s.LastModified = facts.LastModified;
    for (size_t i = 1; i < facts.Sources.size(); ++i) {
        TSavedMirror m;
        m.Url = facts.Sources[i].Url;
        m.Location = FormatUrl(facts.Sources[i].Location);
        SetMirrorValidator(m, facts.Sources[i].Validator);
        s.Mirrors.push_back(m);
    }
    s.Digest = facts.Digest;
    s.Done = facts.Done;
    const std::string text = FormatState(s, Seal);
    if (text == LastSaved) return;
    if (Part->Flush()) return; // not durable: not recorded
    if (Save(s)) LastSaved = text;
}

bool TCheckpoint::Save(const TSavedState& state) {
    return !Seal.Withheld && ReplaceSmallFile(StatePath, FormatState(state, Seal));
}

DWORD TCheckpoint::StartOver() {
    TLocked l(Lock);
    DeleteFileW(StatePath.c_str());
    LastSaved.clear();
    if (Transfer) Transfer->Forget();
    return Part ? Part->Truncate() : 0;
}

void TCheckpoint::Remove() {
    TLocked l(Lock);
    DeleteFileW(StatePath.c_str());
    LastSaved.clear();
}

void RemoveStateWithoutPartial(const std::wstring& partPath) {
    if (GetFileAttributesW(partPath.c_str()) == INVALID_FILE_ATTRIBUTES)
        DeleteFileW((partPath + L".state").c_str());
}

void RemoveStalePartials(const std::wstring& folder, const std::wstring& keep, uint32_t days,
                         const TSeal& seal) {
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW((folder + L"*.part.state").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t nowTicks = uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime;
    const uint64_t maxAge = uint64_t{days} * 24 * 3600 * 10000000;
    do {
        const std::wstring state = folder + found.cFileName;
        if (EqualNoCase(state, keep) || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        const uint64_t written = uint64_t{found.ftLastWriteTime.dwHighDateTime} << 32 |
                                 found.ftLastWriteTime.dwLowDateTime;
        if (written > nowTicks || nowTicks - written < maxAge) continue;
        // Only what this engine left: a state of ours about the very partial beside it. A file
        // of another program that happens to share the name is none of our business.
        const std::wstring name(found.cFileName);
        const auto text = ReadSmallFile(state, MaxStateBytes);
        if (!text || !IsStateOfPartial(*text, Utf8Name(name.substr(0, name.size() - 11)), seal))
            continue;
        const std::wstring part = state.substr(0, state.size() - 6); // less ".state"
        // A partial someone holds is in use, however old its state.
        const HANDLE held = CreateFileW(part.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
        if (held == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) continue;
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        DeleteFileW(state.c_str());
        DeleteFileW(part.c_str());
    } while (FindNextFileW(find, &found));
    FindClose(find);
}

} // namespace xldl
