#include "xldl/core/Sources.h"

#include "xldl/core/Text.h"

namespace xldl {

TSourceFacts AnswerFacts(const THeaders& head, bool whole, int64_t length) {
    TSourceFacts f;
    if (whole) {
        f.Total = length;
    } else if (const auto range = ParseContentRange(head.Get("content-range").value_or(""))) {
        f.Total = range->Total;
    }
    f.Validator = RangeValidator(head);
    if (const auto modified = head.Get("last-modified"); modified && ParseHttpDate(*modified))
        f.LastModified = std::string(Trim(*modified));
    f.Digest = AdvertisedDigest(head, whole);
    return f;
}

TSameness CompareFacts(const TFileIdentity& file, const TSourceFacts& seen) {
    if (file.Total < 0 || seen.Total != file.Total) return TSameness::Other;
    // A digest of the same kind decides either way: mirrors may well stamp one file with
    // different dates, but never give one file two digests.
    if (file.Digest.Kind != TDigestKind::None && file.Digest.Kind == seen.Digest.Kind)
        return file.Digest.Bytes == seen.Digest.Bytes ? TSameness::Same : TSameness::Other;
    if (!file.LastModified.empty() && !seen.LastModified.empty()) {
        const auto a = ParseHttpDate(file.LastModified);
        const auto b = ParseHttpDate(seen.LastModified);
        if (a && b) return *a == *b ? TSameness::Same : TSameness::Other;
    }
    return TSameness::Unproven;
}

TSources::TSources(const std::vector<TUrl>& starts) {
    for (const TUrl& url : starts) {
        TSource s;
        s.Start = url;
        s.Where = url;
        List.push_back(s);
    }
}

void TSources::Define(int source, const TSourceFacts& facts) {
    Identity.Total = facts.Total;
    Identity.LastModified = facts.LastModified;
    Identity.Digest = facts.Digest;
    FileKnown = true;
    Ref = source;
    for (int i = 0; i < Count(); ++i) {
        TSource& s = (*this)[i];
        s.Proven = i == source;
        s.Validator = i == source ? facts.Validator : std::string();
        s.Standing = i == source ? TStanding::Same : TStanding::Unknown;
        if (i != source && (s.WholeOnly || s.Distrusted)) s.Standing = TStanding::Other;
    }
}

void TSources::TakeUp(const TFileIdentity& file, int reference) {
    Identity = file;
    FileKnown = true;
    Ref = reference;
    for (TSource& s : List) {
        s.Proven = false;
        // A source whose validator was kept shows it again, under If-Range, or the file
        // changed there; one the state knew without a validator is held to the windows where
        // its answers meet what is on disk. Any other is judged like a newcomer.
        s.Standing = TStanding::Unknown;
    }
}

void TSources::Forget() {
    Identity = {};
    FileKnown = false;
    Ref = -1;
    for (TSource& s : List) {
        s.Validator.clear();
        s.Proven = false;
        s.AnswerCap = 0;
        s.Standing = s.Distrusted ? TStanding::Other : TStanding::Unknown;
    }
}

TStanding TSources::Judge(int source, const TSourceFacts& facts) {
    TSource& s = (*this)[source];
    switch (CompareFacts(Identity, facts)) {
    case TSameness::Same:
        s.Standing = TStanding::Same;
        break;
    case TSameness::Other:
        s.Standing = TStanding::Other;
        break;
    case TSameness::Unproven:
        s.Standing = TStanding::Sampling;
        break;
    }
    if (s.Standing != TStanding::Other) {
        s.Validator = facts.Validator;
        s.Proven = true;
    }
    return s.Standing;
}

void TSources::Sampled(int source, bool same) {
    (*this)[source].Standing = same ? TStanding::Same : TStanding::Other;
}

bool TSources::Serves(int source) const {
    const TSource& s = (*this)[source];
    return !s.Dead && s.Standing == TStanding::Same;
}

bool TSources::Mixed() const {
    int serving = 0;
    for (int i = 0; i < Count(); ++i) {
        const TStanding st = (*this)[i].Standing;
        if (st == TStanding::Same || st == TStanding::Sampling) ++serving;
    }
    return serving > 1;
}

bool TSources::OthersLive(int source) const {
    for (int i = 0; i < Count(); ++i)
        if (i != source && !(*this)[i].Dead && (*this)[i].Standing != TStanding::Other) return true;
    return false;
}

bool TSources::AllDead() const {
    for (const TSource& s : List)
        if (!s.Dead) return false;
    return !List.empty();
}

uint32_t TSources::DeadError() const {
    for (const TSource& s : List)
        if (s.Dead) return s.DeadError;
    return 0;
}

uint32_t TSources::DeadDetail() const {
    for (const TSource& s : List)
        if (s.Dead) return s.DeadDetail;
    return 0;
}

bool TSources::SameServer(int a, int b) const {
    const TUrl& x = (*this)[a].Where;
    const TUrl& y = (*this)[b].Where;
    return x.Secure == y.Secure && x.Port == y.Port && EqualsNoCase(x.Host, y.Host);
}

} // namespace xldl
