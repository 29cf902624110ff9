#include "xldl/Transfer.h"

#include "engine/XLDownload.h"
#include "xldl/Worker.h"

#include <algorithm>
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
    int Id;
    bool Early; // connects before the first answer, then waits to hear whether it is needed
};

TTransfer::TTransfer(const TUrl& url, const std::wstring& folder, bool manyConnections,
                     const TSettings& settings, TProxyRouter& proxies, TPartFile& part,
                     HANDLE abort)
    : ManyConnections(manyConnections), Settings(settings), Proxies(proxies), Folder(folder),
      Part(part), Dispatch(PlanSettings(settings, manyConnections), url, abort) {}

void TTransfer::Resume(const TFileFacts& facts) {
    Dispatch.Locked([&](TPlanner& p) { p.Resume(facts); });
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

uint32_t TTransfer::Failure() {
    return Dispatch.Failure();
}

uint32_t TTransfer::FailureDetail() {
    return Dispatch.FailureDetail();
}

unsigned __stdcall TTransfer::ConnectionMain(void* start) {
    const TStart s = *static_cast<TStart*>(start);
    delete static_cast<TStart*>(start);
    {
        TWorker w(s.Id, s.Transfer->Dispatch, s.Transfer->Settings, s.Transfer->Proxies,
                  s.Transfer->Families, s.Transfer->Part);
        if (s.Early)
            w.Early();
        else
            w.Run();
    }
    InterlockedDecrement(&LiveThreads);
    return 0;
}

TTransfer::TEnd TTransfer::RunPass() {
    std::unique_ptr<TAnswered> first;
    if (!Dispatch.BeginPass(first)) return TEnd::Aborted;
    const bool resuming = !first && Dispatch.Locked([](TPlanner& p) { return p.Resuming(); });
    // The other connections connect while the first request is on its way, so that they are
    // ready to ask the moment its answer shows that ranges work.
    std::vector<HANDLE> threads;
    const auto spawn = [&](int from, int to, bool early) {
        int started = 0;
        for (int id = from; id < to; ++id) {
            const HANDLE t = StartThread(ConnectionMain, new TStart{this, id, early});
            if (!t) continue;
            threads.push_back(t);
            ++started;
        }
        return started;
    };
    TWorker opener(0, Dispatch, Settings, Proxies, Families, Part);
    bool early = !first && !resuming && ManyConnections && Settings.MaxConnections > 1;
    int ready = early ? spawn(1, static_cast<int>(Settings.MaxConnections), true) : 0;
    uint32_t firstTrip = 0;
    if (!resuming && !first) {
        const uint64_t asked = GetTickCount64();
        first = opener.Open();
        firstTrip = static_cast<uint32_t>(GetTickCount64() - asked);
    }
    if (early && Dispatch.EarlyCalledOff()) {
        early = false; // they have gone: the others start as they would without them
        ready = 0;
    }

    int parts = 1;
    int firstClaim = -1;
    int64_t need = 0;
    bool go = false;
    if (first) {
        const THeaders& head = first->Connection->Head();
        const bool whole = ClassifyStatus(head.Status) == TStatusClass::Whole;
        int64_t total = -1;
        int64_t firstEnd = -1;
        if (whole) {
            const TBodyFraming& f = first->Connection->Framing();
            total = f.Kind == TFraming::Length ? f.Length : -1;
            firstEnd = total;
        } else {
            total = ParseContentRange(head.Get("content-range").value_or(""))->Total;
            firstEnd = first->Answer.BodyEnd;
        }
        const std::string validator = RangeValidator(head);
        const TDigest digest = AdvertisedDigest(head, whole);
        firstClaim = Dispatch.Locked([&](TPlanner& p) {
            return p.Opened(total, firstEnd, whole, validator, digest, parts);
        });
        need = total;
        go = true;
    } else if (resuming) {
        Dispatch.Locked([&](TPlanner& p) {
            parts = p.ResumedParts();
            need = p.Table().Free();
        });
        go = true;
    }
    if (go) Dispatch.Answered(0);
    if (go && need > 0) {
        const int64_t free = FreeBytes(Folder);
        if (free >= 0 && free < need) {
            first.reset();
            Dispatch.Fail(ErrorDiskFull);
            go = false;
        }
    }

    if (go && !early) ready = spawn(1, parts, false);
    Dispatch.Locked([&](TPlanner& p) {
        // The early ones beyond what the file wants end unused; the ones that did not start
        // leave their share to the others.
        p.SetActive(go ? 1 + std::min(ready, parts - 1) : 1);
        p.PlaceEarly(go ? parts : 0, go && early);
    });
    Dispatch.Go();
    if (go) {
        if (first)
            opener.Adopt(std::move(first), firstClaim, firstTrip);
        else
            opener.Run();
    }
    if (!threads.empty())
        WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE);
    for (HANDLE t : threads)
        CloseHandle(t);
    return Dispatch.End();
}

} // namespace xldl
