// What an answer means for the download, for any head and any question: an answer taken as
// the file is exactly the bytes asked for, of a body that is the file's bytes as they are.
#include "FuzzCheck.h"

#include "engine/XLDownload.h"
#include "xldl/core/Answer.h"
#include "xldl/core/HttpWire.h"
#include "xldl/core/Retry.h"
#include "xldl/core/WebPage.h"

#include <fuzzer/FuzzedDataProvider.h>

using namespace xldl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    TQuestion q;
    q.Ask = static_cast<TAsk>(in.ConsumeIntegralInRange<int>(0, 2));
    q.From = in.ConsumeIntegralInRange<int64_t>(0, int64_t{1} << 40);
    q.End =
        in.ConsumeBool() ? -1 : q.From + in.ConsumeIntegralInRange<int64_t>(1, int64_t{1} << 30);
    q.Total = in.ConsumeBool() ? -1 : std::max(q.End, q.From + 1);
    q.Validator = in.ConsumeBool() ? "\"v1\"" : "";
    q.Named = in.ConsumeBool();
    q.MustName = in.ConsumeBool();
    const bool program = in.ConsumeBool();
    const int64_t now = in.ConsumeIntegralInRange<int64_t>(0, int64_t{1} << 40);
    const THeaders head = ParseHeaderBlock(in.ConsumeRemainingBytesAsString());

    const TAnswer a = JudgeAnswer(head, q, now, program);
    if (a.RetryAfter) FUZZ_CHECK(*a.RetryAfter >= 0);
    switch (a.Verdict) {
    case TVerdict::Ok: {
        FUZZ_CHECK(!IsContentCoded(head));
        FUZZ_CHECK(!program || !IsWebPageType(head));
        const TStatusClass status = ClassifyStatus(head.Status);
        FUZZ_CHECK(status == TStatusClass::Whole || status == TStatusClass::Partial);
        if (status == TStatusClass::Whole) {
            FUZZ_CHECK(q.Ask != TAsk::Part);
            FUZZ_CHECK(a.BodyEnd == -1);
            break;
        }
        // A part: it starts where asked, ends within what was asked, and its length (when the
        // head gives one) is the range's.
        FUZZ_CHECK(a.BodyEnd > 0);
        const auto range = ParseContentRange(*head.Get("content-range"));
        FUZZ_CHECK(range && !range->Unsatisfied && range->Last + 1 == a.BodyEnd);
        const auto framing = BodyFraming(head);
        if (framing && framing->Kind == TFraming::Length)
            FUZZ_CHECK(framing->Length == range->Last - range->First + 1);
        if (q.Ask == TAsk::Part) {
            FUZZ_CHECK(range->First == q.From);
            FUZZ_CHECK(q.End < 0 || a.BodyEnd <= q.End);
            FUZZ_CHECK(q.Total < 0 || range->Total == q.Total);
            const std::string named = RangeValidator(head);
            FUZZ_CHECK(q.Validator.empty() || named.empty() || named == q.Validator);
        } else {
            FUZZ_CHECK(range->First == 0 && range->Total > range->Last);
            FUZZ_CHECK(q.End < 0 || a.BodyEnd <= q.End);
        }
        break;
    }
    case TVerdict::Redirect:
        FUZZ_CHECK(!a.Location.empty());
        break;
    case TVerdict::Permanent:
        FUZZ_CHECK(a.Error != 0);
        break;
    case TVerdict::Restart:
        FUZZ_CHECK(q.Ask == TAsk::Part);
        break;
    case TVerdict::AskWhole:
        FUZZ_CHECK(q.Ask == TAsk::First);
        break;
    case TVerdict::Transient:
        break;
    }
    if (IsContentCoded(head) && (ClassifyStatus(head.Status) == TStatusClass::Whole ||
                                 ClassifyStatus(head.Status) == TStatusClass::Partial))
        FUZZ_CHECK(a.Verdict == TVerdict::Permanent && a.Error == ErrorContentCoded);
    return 0;
}
