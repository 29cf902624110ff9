#include "xldl/core/Answer.h"

#include "engine/XLDownload.h"
#include "xldl/core/HttpWire.h"
#include "xldl/core/Retry.h"
#include "xldl/core/WebPage.h"

namespace xldl {

TAnswer JudgeAnswer(const THeaders& head, const TQuestion& q, int64_t nowEpoch, bool program) {
    TAnswer a;
    const TStatusClass status = ClassifyStatus(head.Status);
    if ((status == TStatusClass::Whole || status == TStatusClass::Partial) && program &&
        IsWebPageType(head)) {
        // A network's sign-in page, or a server's own error page sent as a success: not the
        // file, whatever was asked, and asking this source again brings the same.
        a.Verdict = TVerdict::Permanent;
        a.Error = ErrorSignInPage;
        return a;
    }
    if ((status == TStatusClass::Whole || status == TStatusClass::Partial) &&
        IsContentCoded(head)) {
        // We asked for the bytes as they are (identity): a gzip body saved as the file would be
        // a file that is not the one served, and asking again brings the same.
        a.Verdict = TVerdict::Permanent;
        a.Error = ErrorContentCoded;
        return a;
    }
    switch (status) {
    case TStatusClass::Redirect:
        if (const auto location = head.Get("location"); location && !location->empty()) {
            a.Verdict = TVerdict::Redirect;
            a.Location = *location;
        } else {
            a.Verdict = TVerdict::Permanent;
            a.Error = ErrorRedirects;
        }
        return a;
    case TStatusClass::Whole:
        if (q.Ask != TAsk::Part) {
            a.Verdict = TVerdict::Ok;
        } else if (q.Named && RangeValidator(head).empty() &&
                   AdvertisedDigest(head, true).Kind == TDigestKind::None) {
            // Not the file at all, though it reads as a whole answer: nothing in it says which
            // file it is, when the server named this one before (such as bytes a faulty server
            // left on a reused connection). Ask again on a fresh one.
            a.Verdict = TVerdict::Transient;
        } else {
            // The whole file instead of a part: the server ignores ranges (same validator) or
            // the file changed (the If-Range failed). Either way this answer is the new start.
            a.Verdict = TVerdict::Restart;
            a.RangesBroken = !q.Validator.empty() && RangeValidator(head) == q.Validator;
        }
        return a;
    case TStatusClass::Partial: {
        const auto range = ParseContentRange(head.Get("content-range").value_or(""));
        if (const auto framing = BodyFraming(head);
            range && !range->Unsatisfied && framing && framing->Kind == TFraming::Length &&
            framing->Length != range->Last - range->First + 1) {
            // Two different lengths for one body: which bytes are which cannot be told. Not
            // taken, whether it is the first answer or a later one.
            a.Verdict = TVerdict::Transient;
            return a;
        }
        if (q.Ask == TAsk::First) {
            // Going on past the first bytes needs the file's size. That later parts come from
            // the same file is proven by its validator, or else by comparing the parts where
            // they meet (xldl/core/Overlap).
            const bool usable = range && !range->Unsatisfied && range->First == 0 &&
                                (q.End < 0 || range->Last < q.End) && range->Total > range->Last;
            if (!usable) {
                a.Verdict = TVerdict::AskWhole;
                return a;
            }
        } else {
            const bool matches = q.Ask == TAsk::Part && range && !range->Unsatisfied &&
                                 range->First == q.From && range->Last >= q.From &&
                                 (q.End < 0 || range->Last <= q.End - 1) &&
                                 (q.Total < 0 || range->Total == q.Total);
            if (!matches) {
                a.Verdict = q.Ask == TAsk::Part ? TVerdict::Restart : TVerdict::Permanent;
                a.RangesBroken = true;
                a.Error = ErrorHttpStatus;
                return a;
            }
            // A part of another version of the file, or of one that can no longer be told
            // apart: what is on disk cannot be trusted to go with it.
            const std::string named = RangeValidator(head);
            if (q.Ask == TAsk::Part && !q.Validator.empty() &&
                ((!named.empty() && named != q.Validator) || (named.empty() && q.MustName))) {
                a.Verdict = TVerdict::Restart;
                a.Error = ErrorHttpStatus;
                return a;
            }
        }
        a.Verdict = TVerdict::Ok;
        a.BodyEnd = range->Last + 1;
        return a;
    }
    case TStatusClass::RangeRefused:
        if (q.Ask == TAsk::First) { // an empty file has no first byte to give
            a.Verdict = TVerdict::AskWhole;
            return a;
        }
        // The range lies beyond the file as it is now: it changed.
        a.Verdict = q.Ask == TAsk::Part ? TVerdict::Restart : TVerdict::Permanent;
        a.Error = ErrorHttpStatus;
        return a;
    case TStatusClass::Transient:
        a.Verdict = TVerdict::Transient;
        a.Refusal = IsRefusal(head.Status);
        if (const auto after = head.Get("retry-after"))
            a.RetryAfter = ParseRetryAfter(*after, nowEpoch);
        return a;
    case TStatusClass::Permanent:
        break;
    }
    a.Verdict = TVerdict::Permanent;
    a.Error = ErrorHttpStatus;
    return a;
}

} // namespace xldl
