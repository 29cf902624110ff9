// Keeping a download's progress across runs, kills and crashes: the state file beside the
// partial ("NAME.part.state", format in xldl/core/StateFile.h) and the thread that keeps it.
//
// Crash-safe by construction:
//   - a range is recorded only after the partial has been flushed to disk, and only ranges
//     written before that flush are recorded;
//   - the state is replaced whole: a new copy is written and flushed, then renamed over the
//     old one, so a crash at any instant leaves the old state or the new one;
//   - before the partial is emptied or rewritten from zero, the state goes first.
// Nothing in a state is believed unless all of it checks; what cannot be trusted is removed.
#pragma once

#include "xldl/Files.h"
#include "xldl/core/Planner.h"
#include "xldl/core/Settings.h"
#include "xldl/core/StateFile.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace xldl {

class TTransfer;

class TCheckpoint {
public:
    // For the partial `partPath` of the file at `urls` (the task's mirrors, the chosen one
    // first), saved under the name `name` (UTF-8).
    TCheckpoint(std::wstring partPath, std::vector<std::string> urls, std::string name,
                uint32_t intervalMs, TSeal seal);
    ~TCheckpoint();
    TCheckpoint(const TCheckpoint&) = delete;
    TCheckpoint& operator=(const TCheckpoint&) = delete;

    // What an earlier task left in `part` (which we hold), to resume from. Nothing when there
    // is no state or it cannot be trusted: then the state is removed and the partial emptied.
    std::optional<TFileFacts> TakeUp(TPartFile& part);
    // Records what `transfer` has written to `part` every interval (sooner on a fast link),
    // on a thread of its own, until Stop.
    bool Start(TTransfer& transfer, TPartFile& part);
    void Stop();
    // The thread records at once, beside the caller: the flush at the end then overlaps the
    // last of the hash instead of following it.
    void RecordSoon();
    // Flushes the partial and records what it holds now (after Stop: the final word).
    void Record();
    // The download starts over from zero: the state goes, then the partial is emptied and the
    // transfer forgets what it knew. 0 or the system error of emptying the partial.
    DWORD StartOver();
    // No state any more (the file is in place, or not worth keeping).
    void Remove();

private:
    static unsigned __stdcall RecorderMain(void* checkpoint);
    bool Save(const TSavedState& state);

    const std::wstring StatePath;
    const std::vector<std::string> Urls;
    const std::string Name;
    const uint32_t IntervalMs;
    const TSeal Seal;
    TTransfer* Transfer = nullptr;
    TPartFile* Part = nullptr;
    HANDLE Thread = nullptr;
    HANDLE StopEvent = nullptr;
    HANDLE SoonEvent = nullptr;
    CRITICAL_SECTION Lock; // one record at a time, and none while the partial is emptied
    std::string LastSaved;
};

// Removes the state of the partial `partPath` when that partial is not there: a power cut
// between a finished file's move into place and its state's removal leaves such a state.
void RemoveStateWithoutPartial(const std::wstring& partPath);

// Removes the partial downloads this engine left in `folder` (a state file and its partial)
// untouched for more than `days` days, unless a task holds them; `keep` is the state path of
// the task that asks, never removed here.
void RemoveStalePartials(const std::wstring& folder, const std::wstring& keep, uint32_t days,
                         const TSeal& seal);

} // namespace xldl
