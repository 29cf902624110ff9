#include "xldl/Task.h"

#include "xldl/Locked.h"
#include "xldl/HttpsFirst.h"
#include "xldl/Trace.h"
#include "xldl/UserKey.h"
#include "runtime/OwnFolder.h"
#include "xldl/core/WebPage.h"

#include <algorithm>
#include <cstring>

namespace xldl {

namespace {

std::wstring WithBackslash(std::wstring folder) {
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
    return folder;
}

bool AnyFile(const std::wstring& pattern) {
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    return true;
}

// Failures after which the bytes on disk are still worth taking up later; the others mean the
// bytes themselves cannot be trusted.
bool WorthKeeping(uint32_t error) {
    return error != ErrorVerify && error != ErrorUnstable;
}

} // namespace

TTask::TTask(std::string url, std::wstring folder, std::wstring fileName, bool manyConnections,
             const TSettings& settings, const TProxySettings& proxies)
    : Url(std::move(url)), Folder(WithBackslash(std::move(folder))), FileName(std::move(fileName)),
      Target(Folder + FileName), PartPath(Target + L".part"), ManyConnections(manyConnections),
      Settings(settings), Proxies(proxies, settings.ProxyWaitMs) {
    InitializeCriticalSection(&Lock);
    Abort = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

TTask::~TTask() {
    Hash.reset(); // its thread asks the transfer
    Transfer.reset();
    if (Thread) CloseHandle(Thread);
    CloseHandle(Abort);
    DeleteCriticalSection(&Lock);
}

bool TTask::AddMirror(const std::string& url) {
    TLocked l(Lock);
    if (Thread || Cancelled || url == Url || !ParseUrl(url)) return false;
    if (std::find(Mirrors.begin(), Mirrors.end(), url) == Mirrors.end()) Mirrors.push_back(url);
    return true;
}

bool TTask::Start() {
    {
        TLocked l(Lock);
        if (Thread || Cancelled) return false;
        Phase = StateConnecting;
    }
    Thread = StartThread(CoordinatorMain, this);
    if (!Thread) {
        TLocked l(Lock);
        Phase = StateCreated;
        return false;
    }
    return true;
}

void TTask::Cancel() {
    {
        TLocked l(Lock);
        Cancelled = true;
        if (Transfer) Transfer->Cancel();
    }
    SetEvent(Abort);
}

bool TTask::WaitEnded(DWORD ms) {
    return !Thread || WaitForSingleObject(Thread, ms) == WAIT_OBJECT_0;
}

void TTask::Snapshot(DownloadTaskInfo& info) {
    std::memset(&info, 0, sizeof info);
    TLocked l(Lock);
    const TTransfer::TProgress p = Transfer ? Transfer->Progress() : TTransfer::TProgress{};
    uint8_t state = Phase;
    const bool working = Phase == StateConnecting || Phase == StateDownloading;
    if (working && p.Answered) state = StateDownloading;
    if (working && p.AllWaiting) state = StateWaiting;
    info.State = state;
    info.TotalSize = p.Total >= 0 ? p.Total : 0;
    info.DoneSize = p.Done;
    if (!Transfer && ConfirmedSize >= 0) info.TotalSize = info.DoneSize = ConfirmedSize;
    SetInfoField(info, InfoErrorOffset, Error);
    SetInfoField(info, InfoHttpStatusOffset, p.HttpStatus);
    SetInfoField(info, InfoConnectionsOffset, working ? static_cast<uint32_t>(p.Connections) : 0);
    SetInfoField(info, InfoRestartsOffset, Restarts);
    SetInfoField(info, InfoDetailOffset, Detail);
}

std::string TTask::Describe() {
    std::vector<std::string> urls{Url};
    std::vector<int64_t> bytes;
    {
        TLocked l(Lock);
        urls.insert(urls.end(), Mirrors.begin(), Mirrors.end());
        if (Transfer) bytes = Transfer->Delivered();
    }
    std::string text;
    for (size_t i = 0; i < urls.size(); ++i) {
        auto url = ParseUrl(urls[i]);
        if (!url) continue;
        const std::string routes = Proxies.KnownRoutesText(*url);
        url->Target = url->Target.substr(0, url->Target.find('?')); // a query may hold a token
        text += FormatUrl(*url) + ": " + std::to_string(i < bytes.size() ? bytes[i] : 0) +
                " bytes, " + (routes.empty() ? "not reached" : "by way of " + routes) + "\n";
    }
    return text;
}

unsigned __stdcall TTask::CoordinatorMain(void* task) {
    static_cast<TTask*>(task)->Run();
    InterlockedDecrement(&LiveThreads);
    return 0;
}

void TTask::Finish(uint8_t phase, uint32_t error) {
    TLocked l(Lock);
    Phase = phase;
    Error = error;
}

void TTask::ClosePart() {
    // Never while the hash's thread may still read it: the handle could be another's by then.
    if (Hash) Hash->Stop();
    Part.Close();
}

void TTask::Discard() {
    if (Checkpoint) {
        Checkpoint->Stop();
        Checkpoint->Remove();
    }
    ClosePart();
    DeleteFileW(PartPath.c_str());
}

void TTask::Keep() {
    if (!Checkpoint) {
        ClosePart();
        return;
    }
    Checkpoint->Stop();
    Checkpoint->Record();
    const TTransfer::TProgress p = Transfer->Progress();
    ClosePart();
    if (p.Done == 0) Discard(); // nothing there to take up
}

void TTask::Run() {
    const auto start = ParseUrl(Url);
    if (!start || FileName.empty() || Folder.empty()) {
        Finish(StateFailed, ErrorBadUrl);
        return;
    }
    std::vector<TUrl> sources{*start};
    {
        TLocked l(Lock);
        for (const std::string& m : Mirrors)
            sources.push_back(*ParseUrl(m));
    }
    // Tried over https while the rest of the start goes on; the first request waits for the
    // tries a quarter of a second at most.
    THttpsFirst https(sources, Settings, Proxies, Abort);
    CreateDirectoryW(Folder.c_str(), nullptr); // usually there already
    // What this engine leaves is sealed with the user's key; what an older one left (a plain
    // checksum anyone can make) is believed only in a folder nobody else may change. Whose the
    // folder is takes a while to learn, and matters only where such a file lies.
    const bool kept = AnyFile(Folder + L"*.part.state") || AnyFile(Target + L".done");
    const TSealKey& key = UserSealKey();
    const TSeal seal{key.Key, kept && !key.Unreadable && FolderIsOurs(Folder, ReadFolderFacts),
                     key.Unreadable};
    // A sensible moment to clear away what earlier downloads left and nobody took up.
    if (kept) RemoveStalePartials(Folder, PartPath + L".state", Settings.StaleDays, seal);
    const std::vector<std::optional<TUrl>> twins = https.Found(HttpsHeadStartMs);
    TFinishedFile finished(Target, Url, Utf8Name(FileName), seal);
    if (ConfirmFinished(finished, twins[0].value_or(*start))) return;
    if (WaitForSingleObject(Abort, 0) == WAIT_OBJECT_0) return;
    if (const DWORD error = Part.Open(PartPath)) {
        // Someone else is writing this file: it is theirs, untouched.
        Finish(StateFailed, error == ERROR_SHARING_VIOLATION ? ErrorInUse
                            : IsDiskFull(error)              ? ErrorDiskFull
                                                             : ErrorFile);
        return;
    }
    {
        TLocked l(Lock);
        // The task's own URL is the preferred source.
        std::vector<std::string> urls{Url};
        for (const std::string& m : Mirrors)
            urls.push_back(m);
        Transfer = std::make_unique<TTransfer>(sources, Folder, ManyConnections,
                                               MustNotBeWebPage(Utf8Name(FileName)), Settings,
                                               Proxies, Part, Abort);
        Checkpoint = std::make_unique<TCheckpoint>(PartPath, urls, Utf8Name(FileName),
                                                   Settings.RecordMs, seal);
        if (Cancelled) Transfer->Cancel();
    }
    if (const auto facts = Checkpoint->TakeUp(Part)) Transfer->Resume(*facts);
    Transfer->HttpsFirst(twins);
    https.OnLate([this](size_t source, const TUrl& twin) { Transfer->HttpsLate(source, twin); });
    Checkpoint->Start(*Transfer, Part);
    // The file's SHA-256 (its check, its record) is taken while it comes, not after.
    Hash = std::make_unique<TPrefixHash>(Part, [this] { return Transfer->WrittenPrefix(); });
    Transfer->HashAsWritten(Hash.get());
    Hash->Start();

    for (;;) {
        const TTransfer::TEnd end = Transfer->RunPass();
        if (end == TTransfer::TEnd::Aborted) {
            Keep();
            return;
        }
        if (end == TTransfer::TEnd::Fail) {
            uint32_t error = Transfer->Failure();
            // Given up for want of a connection, when every way out was a proxy that could
            // not be reached: that is what the user must hear.
            if (error == ErrorNetwork && Proxies.ProxiesUnreachable())
                error = ErrorProxyUnreachable;
            if (WorthKeeping(error))
                Keep();
            else
                Discard();
            {
                TLocked l(Lock);
                Detail = Transfer->FailureDetail();
            }
            Finish(StateFailed, error);
            return;
        }
        if (end == TTransfer::TEnd::Restart) {
            if (!StartOver(ErrorUnstable)) return;
            continue;
        }
        Checkpoint->RecordSoon();
        {
            TLocked l(Lock);
            Phase = StateVerifying;
        }
        const TCheck check = Check();
        if (check == TCheck::Good) break;
        if (check == TCheck::Unproven) {
            if (!StartOver(ErrorUnstable)) return;
            Hash->Start();
            continue;
        }
        if (check == TCheck::Aborted) {
            Keep();
            return;
        }
        if (check == TCheck::Failed) {
            Keep();
            Finish(StateFailed, ErrorFile);
            return;
        }
        // Bytes from different versions of the file, or damaged on the way: from zero again,
        // once; a file that fails twice is not what the server says it is.
        bool again;
        {
            TLocked l(Lock);
            again = ++VerifyFailures < Settings.MaxVerifyFailures;
        }
        if (!again) {
            Discard();
            Finish(StateFailed, ErrorVerify);
            return;
        }
        if (!StartOver(ErrorVerify)) return;
        Hash->Start();
    }

    // Complete and checked. Its SHA-256 for the record of a finished file, while the file is
    // still ours alone (mostly hashed already as it came).
    const TFileFacts facts = Transfer->Facts();
    std::optional<std::array<uint8_t, 32>> sha;
    if (!facts.Validator.empty()) {
        bool aborted = false;
        sha = Hash->Digest(facts.Total, Abort, aborted);
        if (aborted) {
            Keep();
            return;
        }
    }
    TraceServed();
    // The record goes first: it counts only for a file under the final name with exactly its
    // bytes, so until the move it describes nothing. A file that cannot be recorded is merely
    // fetched again next time; an older record describes a file about to be replaced.
    if (!sha ||
        !finished.Record(FormatUrl(facts.Location), facts.Total, facts.Validator, sha, Abort))
        finished.Forget();
    // Durable before it has its name: a power cut may keep a rename and lose blocks written
    // before it. Recorded as whole too, so that a cut that loses the rename costs nothing.
    Checkpoint->Stop();
    Checkpoint->Record();
    ClosePart();
    // The final name changes in the same step as the state says so, and never after a stop:
    // whoever looks sees the old file with any other state, the new one only as finished.
    bool stopped = false;
    const DWORD moved = MoveIntoPlace(PartPath, Target, Settings.RenameWaitMs, Abort,
                                      [&](const std::function<DWORD()>& move) -> DWORD {
                                          TLocked l(Lock);
                                          if (Cancelled) {
                                              stopped = true;
                                              return ERROR_OPERATION_ABORTED;
                                          }
                                          const DWORD error = move();
                                          if (!error) {
                                              Phase = StateFinished;
                                              Error = ErrorNone;
                                              if (Tracing()) Trace("task finished");
                                          }
                                          return error;
                                      });
    if (moved) {
        // The record would describe a file that is not there.
        finished.Forget();
        if (stopped || moved == ERROR_OPERATION_ABORTED) {
            // Stopped with the file complete and checked: the next task takes it up as it is.
            if (!Part.Open(PartPath)) Keep();
        } else {
            Finish(StateFailed, ErrorRename);
        }
        return;
    }
    Checkpoint->Remove();
}

void TTask::TraceServed() {
    if (Tracing()) Trace("finished: %s", Transfer->Served().c_str());
}

bool TTask::ConfirmFinished(TFinishedFile& finished, const TUrl& url) {
    const auto record = finished.Local(Abort);
    if (!record || !finished.Confirmed(*record, url, Settings, Proxies, Abort)) return false;
    {
        TLocked l(Lock);
        ConfirmedSize = record->Total;
    }
    RemoveStateWithoutPartial(PartPath);
    Finish(StateFinished, ErrorNone);
    return true;
}

TTask::TCheck TTask::Check() {
    const TFileFacts facts = Transfer->Facts();
    int64_t done = 0;
    for (const TByteRange& r : facts.Done)
        done += r.End - r.Start;
    if (facts.Total < 0 || Part.Size() != facts.Total || done != facts.Total) return TCheck::Bad;
    bool aborted = false;
    DWORD error = 0;
    const bool unproven = facts.Digest.Kind == TDigestKind::None && facts.EndUnproven;
    if (unproven || facts.Digest.Kind == TDigestKind::Sha256) {
        const auto sha = Hash->Digest(facts.Total, Abort, aborted);
        if (aborted) return TCheck::Aborted;
        if (!sha) return TCheck::Failed;
        TDigest got{TDigestKind::Sha256, std::vector<uint8_t>(sha->begin(), sha->end())};
        if (!unproven) return got.Bytes == facts.Digest.Bytes ? TCheck::Good : TCheck::Bad;
        // A connection that dropped looks just like a server that has said all: a file is
        // whole only when two fetches end at the same byte with the same bytes (a cut lands
        // at a random place). A digest, a length, chunks or TLS make this needless.
        if (Witness && Witness->Bytes == got.Bytes) return TCheck::Good;
        Witness = std::move(got);
        return TCheck::Unproven;
    }
    if (facts.Digest.Kind == TDigestKind::None) return TCheck::Good;
    const bool good = Part.Matches(facts.Digest, Abort, aborted, error);
    if (aborted) return TCheck::Aborted;
    if (error) return TCheck::Failed;
    return good ? TCheck::Good : TCheck::Bad;
}

bool TTask::StartOver(uint32_t errorWhenExhausted) {
    bool exhausted, cancelled;
    {
        TLocked l(Lock);
        cancelled = Cancelled;
        exhausted = ++Restarts > Settings.MaxRestarts;
    }
    if (cancelled) {
        // What is on disk is of the version that just changed: nothing to take up.
        Discard();
        return false;
    }
    if (exhausted) {
        Discard();
        Finish(StateFailed, errorWhenExhausted);
        return false;
    }
    if (Checkpoint->StartOver()) { // done is back to zero
        Discard();
        Finish(StateFailed, ErrorFile);
        return false;
    }
    TLocked l(Lock);
    Phase = StateDownloading;
    return true;
}

} // namespace xldl
