#include "xldl/Transfer.h"

#include "engine/XLDownload.h"
#include "xldl/Trace.h"
#include "xldl/Worker.h"

#include <cstddef>
#include <vector>

namespace xldl {

namespace {

TPlanSettings PlanSettings(const TSettings& s, bool manyConnections) {
    TPlanSettings p;
    p.SegmentBytes = s.SegmentBytes;
    p.MaxConnections = s.MaxConnections;
    p.ManyConnections = manyConnections;
    p.GiveUpMs = s.GiveUpMs;
    p.RetryBaseMs = s.RetryBaseMs;
    p.RetryCapMs = s.RetryCapMs;
    return p;
}

} // namespace

struct TTransfer::TStart {
    TTransfer* Transfer;
    TPlanner::TStart Connection;
    std::unique_ptr<TAnswered> Handover; // the whole-file answer an adopting connection reads
};

TTransfer::TTransfer(const std::vector<TUrl>& sources, const std::wstring& folder,
                     bool manyConnections, bool program, const TSettings& settings,
                     TProxyRouter& proxies, TPartFile& part, HANDLE abort)
    : ManyConnections(manyConnections), Program(program), Settings(settings), Proxies(proxies),
      Folder(folder), Part(part),
      Dispatch(PlanSettings(settings, manyConnections), sources, abort) {}

void TTransfer::Resume(const TFileFacts& facts) {
    Dispatch.Locked([&](TPlanner& p) { p.Resume(facts); });
}

void TTransfer::HttpsFirst(const std::vector<std::optional<TUrl>>& twins) {
    Dispatch.Locked([&](TPlanner& p) {
        for (size_t i = 0; i < twins.size() && static_cast<int>(i) < p.Sources().Count(); ++i)
            p.HttpsFirst(static_cast<int>(i), twins[i]);
    });
}

void TTransfer::HttpsLate(size_t source, const TUrl& twin) {
    const bool taken = Dispatch.Locked([&](TPlanner& p) {
        const int i = static_cast<int>(source);
        if (i >= p.Sources().Count()) return false;
        p.HttpsFirst(i, twin);
        return p.Location(i).Secure;
    });
    if (Tracing() && taken) Trace("source %u over https from now on", static_cast<unsigned>(source));
}

void TTransfer::Forget() {
    Dispatch.Locked([](TPlanner& p) { p.Forget(); });
}

void TTransfer::Cancel() {
    Dispatch.Cancel();
}

TWrittenPrefix TTransfer::WrittenPrefix() {
    return Dispatch.Locked([](TPlanner& p) {
        return TWrittenPrefix{p.Table().Generation(), p.Table().WrittenPrefix()};
    });
}

TTransfer::TProgress TTransfer::Progress() {
    const TDispatch::TLook look = Dispatch.Look();
    TProgress p;
    p.Answered = look.Answered;
    p.Total = look.Total;
    p.Done = look.Done;
    p.Connections = look.Connections;
    p.AllWaiting = look.AllWaiting;
    p.HttpStatus = look.HttpStatus;
    return p;
}

TFileFacts TTransfer::Facts() {
    return Dispatch.Locked([](TPlanner& p) { return p.Facts(); });
}

std::string TTransfer::Served() {
    return Dispatch.Locked([](TPlanner& p) {
        const TSources& sources = p.Sources();
        std::string text;
        for (int i = 0; i < sources.Count(); ++i) {
            const TSource& s = sources[i];
            text += (i ? "; " : "") + FormatUrl(s.Start) + " delivered " +
                    std::to_string(s.Delivered) + " bytes over " +
                    (s.Where.Secure ? "https" : "http");
            if (i == sources.Reference()) text += ", defined the file";
            if (s.Standing == TStanding::Other) text += ", serves another file";
            if (s.Dead) text += ", dead (error " + std::to_string(s.DeadError) + ")";
        }
        return text;
    });
}

std::vector<int64_t> TTransfer::Delivered() {
    return Dispatch.Locked([](TPlanner& p) {
        std::vector<int64_t> bytes;
        for (int i = 0; i < p.Sources().Count(); ++i)
            bytes.push_back(p.Sources()[i].Delivered);
        return bytes;
    });
}

uint32_t TTransfer::Failure() {
    return Dispatch.Failure();
}

uint32_t TTransfer::FailureDetail() {
    return Dispatch.FailureDetail();
}

unsigned __stdcall TTransfer::ConnectionMain(void* start) {
    std::unique_ptr<TStart> s(static_cast<TStart*>(start));
    {
        TTransfer& t = *s->Transfer;
        const TWorkerContext context{t.Dispatch, t.Settings, t.Proxies, t.Families,
                                     t.Part,     t.Folder,   t.Program, t.Hash};
        TWorker w(s->Connection.Id, s->Connection.Source, context);
        switch (s->Connection.Role) {
        case TPlanner::TRole::Open:
            w.Open();
            break;
        case TPlanner::TRole::Candidate:
            w.Candidate();
            break;
        case TPlanner::TRole::Standby:
            w.Standby();
            break;
        case TPlanner::TRole::Run:
            w.Run();
            break;
        case TPlanner::TRole::Adopt:
            w.Adopt(std::move(s->Handover));
            break;
        }
    }
    s.reset();
    InterlockedDecrement(&LiveThreads);
    return 0;
}

HANDLE TTransfer::Spawn(const TPlanner::TStart& start, std::unique_ptr<TAnswered> handover) {
    auto* s = new TStart{this, start, std::move(handover)};
    const HANDLE t = StartThread(ConnectionMain, s);
    if (!t) delete s;
    return t;
}

TTransfer::TEnd TTransfer::RunPass() {
    std::unique_ptr<TAnswered> handover;
    std::vector<TPlanner::TStart> starts;
    if (!Dispatch.BeginPass(handover, starts)) return TEnd::Aborted;
    // Taken up from an earlier pass or run: the ranges still missing are asked at once.
    bool resuming = false;
    int64_t need = 0;
    Dispatch.Locked([&](TPlanner& p) {
        resuming = !handover && p.FileKnown();
        need = p.Table().Free();
    });
    if (resuming) {
        Dispatch.Answered(0);
        const int64_t free = FreeBytes(Folder);
        if (need > 0 && free >= 0 && free < need) Dispatch.RoomToConfirm(Folder);
        Dispatch.Go();
    }

    std::vector<HANDLE> threads;
    std::vector<int> ids;
    const auto ended = [&](size_t i) {
        CloseHandle(threads[i]);
        const int id = ids[i];
        Dispatch.Locked([&](TPlanner& p) { p.Ended(id, GetTickCount64()); });
        threads.erase(threads.begin() + static_cast<std::ptrdiff_t>(i));
        ids.erase(ids.begin() + static_cast<std::ptrdiff_t>(i));
    };
    const auto spawnAll = [&](const std::vector<TPlanner::TStart>& list) {
        for (const TPlanner::TStart& c : list) {
            const HANDLE t =
                Spawn(c, c.Role == TPlanner::TRole::Adopt ? std::move(handover) : nullptr);
            if (t) {
                threads.push_back(t);
                ids.push_back(c.Id);
            } else {
                // The others manage without it.
                Dispatch.Locked([&](TPlanner& p) { p.Ended(c.Id, GetTickCount64()); });
            }
        }
    };
    spawnAll(starts);
    // Connections come and go as the planner decides: more while they add throughput, the
    // other source's when it joins or takes over from one that failed.
    for (;;) {
        if (!threads.empty()) {
            const DWORD w = WaitForMultipleObjects(static_cast<DWORD>(threads.size()),
                                                   threads.data(), FALSE, 40);
            if (w < WAIT_OBJECT_0 + threads.size()) ended(w - WAIT_OBJECT_0);
        }
        if (Dispatch.Stopping()) {
            if (threads.empty()) break;
            continue;
        }
        const std::vector<TPlanner::TStart> more =
            Dispatch.Locked([](TPlanner& p) { return p.Starts(GetTickCount64()); });
        spawnAll(more);
        if (threads.empty()) break;
    }
    return Dispatch.End();
}

} // namespace xldl
