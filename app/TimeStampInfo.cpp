#include "app/TimeStampInfo.h"

namespace {

// One DER element: its tag and where its contents lie.
struct TElement {
    uint8_t Tag = 0;
    const uint8_t* Data = nullptr;
    size_t Size = 0;
};

// A reader over consecutive DER elements. Only definite lengths in their shortest form, as
// DER has them; anything else ends the reading.
class TDerReader {
public:
    TDerReader(const uint8_t* data, size_t size) : P(data), End(data + size) {}

    bool AtEnd() const { return P == End; }

    std::optional<TElement> Next() {
        if (End - P < 2) return std::nullopt;
        TElement e;
        e.Tag = *P++;
        if ((e.Tag & 0x1F) == 0x1F) return std::nullopt; // multi-byte tags: none in TSTInfo
        size_t length = *P++;
        if (length & 0x80) {
            const size_t bytes = length & 0x7F;
            if (bytes == 0 || bytes > sizeof(size_t) || static_cast<size_t>(End - P) < bytes)
                return std::nullopt;
            if (*P == 0) return std::nullopt; // not the shortest form
            length = 0;
            for (size_t i = 0; i < bytes; ++i)
                length = length << 8 | *P++;
            if (length < 0x80) return std::nullopt;
        }
        if (length > static_cast<size_t>(End - P)) return std::nullopt;
        e.Data = P;
        e.Size = length;
        P += length;
        return e;
    }

    // The next element if it has `tag`.
    std::optional<TElement> Next(uint8_t tag) {
        const uint8_t* at = P;
        auto e = Next();
        if (e && e->Tag == tag) return e;
        P = at;
        return std::nullopt;
    }

private:
    const uint8_t* P;
    const uint8_t* End;
};

constexpr uint8_t Integer = 0x02, OctetString = 0x04, ObjectId = 0x06, Sequence = 0x30,
                  GeneralizedTime = 0x18;

std::optional<std::string> DottedOid(const TElement& e) {
    if (e.Size == 0 || (e.Data[e.Size - 1] & 0x80)) return std::nullopt;
    std::string text;
    uint64_t value = 0;
    bool first = true;
    for (size_t i = 0; i < e.Size; ++i) {
        if (value == 0 && e.Data[i] == 0x80) return std::nullopt; // padded arc
        if (value >> 56) return std::nullopt;
        value = value << 7 | (e.Data[i] & 0x7F);
        if (e.Data[i] & 0x80) continue;
        if (first) {
            const uint64_t top = value < 80 ? value / 40 : 2;
            text = std::to_string(top) + "." + std::to_string(value - top * 40);
            first = false;
        } else {
            text += "." + std::to_string(value);
        }
        value = 0;
    }
    return text;
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

} // namespace

std::optional<int64_t> ParseGeneralizedTime(const std::string& text) {
    if (text.size() < 15 || text.back() != 'Z') return std::nullopt;
    for (size_t i = 0; i < 14; ++i)
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
    // Fractions of a second, if any: a dot and digits, without trailing zeros (DER).
    if (text.size() > 15) {
        if (text[14] != '.' || text.size() < 17 || text[text.size() - 2] == '0')
            return std::nullopt;
        for (size_t i = 15; i + 1 < text.size(); ++i)
            if (text[i] < '0' || text[i] > '9') return std::nullopt;
    }
    const auto number = [&](size_t at, size_t n) {
        int v = 0;
        for (size_t i = at; i < at + n; ++i)
            v = v * 10 + (text[i] - '0');
        return v;
    };
    const int year = number(0, 4), month = number(4, 2), day = number(6, 2);
    const int hour = number(8, 2), minute = number(10, 2), second = number(12, 2);
    static const int monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > monthDays[month - 1] || hour > 23 ||
        minute > 59 || second > 59)
        return std::nullopt;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && day == 29 && !leap) return std::nullopt;
    return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
           hour * 3600 + minute * 60 + second;
}

std::optional<TTimeStampInfo> ParseTimeStampInfo(const uint8_t* der, size_t size) {
    TDerReader outer(der, size);
    const auto info = outer.Next(Sequence);
    if (!info || !outer.AtEnd()) return std::nullopt;
    TDerReader r(info->Data, info->Size);
    const auto version = r.Next(Integer);
    if (!version || version->Size != 1 || version->Data[0] != 1) return std::nullopt;
    if (!r.Next(ObjectId)) return std::nullopt; // the authority's policy
    const auto imprint = r.Next(Sequence);
    if (!imprint) return std::nullopt;
    TDerReader m(imprint->Data, imprint->Size);
    const auto algorithm = m.Next(Sequence);
    const auto hash = m.Next(OctetString);
    if (!algorithm || !hash || !m.AtEnd() || hash->Size == 0) return std::nullopt;
    TDerReader a(algorithm->Data, algorithm->Size);
    const auto oid = a.Next(ObjectId);
    if (!oid) return std::nullopt;
    const auto dotted = DottedOid(*oid);
    if (!dotted) return std::nullopt;
    if (!r.Next(Integer)) return std::nullopt; // serial number
    const auto time = r.Next(GeneralizedTime);
    if (!time) return std::nullopt;
    const auto seconds =
        ParseGeneralizedTime(std::string(reinterpret_cast<const char*>(time->Data), time->Size));
    if (!seconds) return std::nullopt;
    // accuracy, ordering, nonce, tsa and extensions may follow; nothing here needs them, but
    // they must be well formed.
    while (!r.AtEnd())
        if (!r.Next()) return std::nullopt;
    TTimeStampInfo result;
    result.HashAlgorithm = *dotted;
    result.Hash.assign(hash->Data, hash->Data + hash->Size);
    result.Time = *seconds;
    return result;
}
