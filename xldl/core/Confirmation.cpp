#include "xldl/core/Confirmation.h"

#include "xldl/core/Text.h"

namespace xldl {

namespace {

bool StrongTag(const std::string& tag) {
    return !tag.empty() && tag.rfind("W/", 0) != 0;
}

// The file's length as the answer gives it: the range's total, or the whole body's length.
std::optional<int64_t> AnsweredTotal(const THeaders& head) {
    if (head.Status == 206) {
        const auto range = head.Get("content-range");
        const auto parsed = range ? ParseContentRange(*range) : std::nullopt;
        if (!parsed || parsed->Total < 0) return std::nullopt;
        return parsed->Total;
    }
    const auto length = head.Get("content-length");
    return length ? ParseByteCount(*length) : std::nullopt;
}

} // namespace

std::string ConfirmationHeaders(const TSavedState& record) {
    std::string h;
    if (StrongTag(record.ETag))
        h = "If-None-Match: " + record.ETag + "\r\n";
    else if (!record.LastModified.empty())
        h = "If-Modified-Since: " + record.LastModified + "\r\n";
    else
        return {};
    return h + "Range: bytes=0-0\r\nWant-Repr-Digest: sha-256=10\r\n";
}

TConfirmAnswer JudgeConfirmation(const THeaders& head, const TSavedState& record) {
    TConfirmAnswer a;
    const int status = head.Status;
    if (status == 301 || status == 302 || status == 303 || status == 307 || status == 308) {
        if (const auto location = head.Get("location")) {
            a.Verdict = TConfirmation::Redirect;
            a.Location = *location;
        }
        return a;
    }
    if (status == 304) {
        // A tag given with "not modified" must be the one asked about.
        const auto tag = head.Get("etag");
        if (!tag || !StrongTag(record.ETag) || Trim(*tag) == record.ETag)
            a.Verdict = TConfirmation::Same;
        return a;
    }
    if (status != 200 && status != 206) return a;
    // The condition was ignored: the answer must show the same file itself.
    const auto total = AnsweredTotal(head);
    if (!total || *total != record.Total) return a;
    const TDigest digest = AdvertisedDigest(head, status == 200);
    if (digest.Kind == TDigestKind::Sha256 && record.Digest.Kind == TDigestKind::Sha256 &&
        digest.Bytes != record.Digest.Bytes)
        return a;
    const auto tag = head.Get("etag");
    if (StrongTag(record.ETag)) {
        if (tag && Trim(*tag) == record.ETag) a.Verdict = TConfirmation::Same;
        return a;
    }
    const auto date = head.Get("last-modified");
    if (!record.LastModified.empty() && !tag && date && Trim(*date) == record.LastModified)
        a.Verdict = TConfirmation::Same;
    return a;
}

} // namespace xldl
