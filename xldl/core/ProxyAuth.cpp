#include "xldl/core/ProxyAuth.h"

#include "xldl/core/Text.h"

namespace xldl {

namespace {

bool IsTokenChar(char c) {
    return c > ' ' && c != ',' && c != '=' && c != '"' && c < 0x7F;
}

// Reads one field's challenges: schemes, each followed by a token68 or by name=value
// parameters, all separated by commas.
void ReadChallenges(std::string_view text, std::vector<TChallenge>& out) {
    size_t p = 0;
    bool known = false; // the challenge being read is one of ours: its parameters count
    const auto skip = [&] {
        while (p < text.size() && (IsBlank(text[p]) || text[p] == ',' || text[p] == '\r'))
            ++p;
    };
    const auto word = [&] {
        const size_t from = p;
        while (p < text.size() && IsTokenChar(text[p]))
            ++p;
        return text.substr(from, p - from);
    };
    const auto value = [&] {
        std::string v;
        if (p < text.size() && text[p] == '"') {
            for (++p; p < text.size() && text[p] != '"'; ++p) {
                if (text[p] == '\\' && p + 1 < text.size()) ++p;
                v += text[p];
            }
            if (p < text.size()) ++p;
        } else {
            v = std::string(word());
        }
        return v;
    };
    for (skip(); p < text.size(); skip()) {
        const std::string_view name = word();
        if (name.empty()) { // stray character: step over it
            ++p;
            continue;
        }
        size_t after = p;
        while (after < text.size() && IsBlank(text[after]))
            ++after;
        if (after < text.size() && text[after] == '=') {
            // name=value: a parameter of the challenge before it.
            p = after + 1;
            while (p < text.size() && IsBlank(text[p]))
                ++p;
            const std::string v = value();
            if (known && EqualsNoCase(name, "realm")) out.back().Realm = v;
            continue;
        }
        TChallenge c;
        if (EqualsNoCase(name, "negotiate"))
            c.Scheme = TAuthScheme::Negotiate;
        else if (EqualsNoCase(name, "ntlm"))
            c.Scheme = TAuthScheme::Ntlm;
        else if (EqualsNoCase(name, "basic"))
            c.Scheme = TAuthScheme::Basic;
        else {
            known = false;
            continue;
        }
        // A token68 follows the scheme when the next word ends the challenge (only '='
        // padding at its end, then a comma or the end).
        p = after;
        size_t end = p;
        while (end < text.size() && (IsTokenChar(text[end]) || text[end] == '='))
            ++end;
        size_t next = end;
        while (next < text.size() && IsBlank(text[next]))
            ++next;
        const std::string_view token = text.substr(p, end - p);
        const size_t eq = token.find('=');
        const bool padding =
            eq == std::string_view::npos || token.find_first_not_of('=', eq) == std::string::npos;
        if (!token.empty() && padding && (next == text.size() || text[next] == ',')) {
            c.Token = std::string(token);
            p = end;
        }
        out.push_back(std::move(c));
        known = true;
    }
}

} // namespace

std::vector<TChallenge> ParseChallenges(const THeaders& head) {
    std::vector<TChallenge> out;
    for (const auto& [name, value] : head.Fields)
        if (name == "proxy-authenticate") ReadChallenges(value, out);
    return out;
}

const TChallenge* FindChallenge(const std::vector<TChallenge>& offered, TAuthScheme scheme) {
    for (const TChallenge& c : offered)
        if (c.Scheme == scheme) return &c;
    return nullptr;
}

std::optional<TAuthScheme> NextScheme(const std::vector<TChallenge>& offered,
                                      const bool (&spent)[AuthSchemeCount]) {
    for (int s = 0; s < AuthSchemeCount; ++s) {
        const auto scheme = static_cast<TAuthScheme>(s);
        if (!spent[s] && FindChallenge(offered, scheme)) return scheme;
    }
    return std::nullopt;
}

const char* SchemeName(TAuthScheme scheme) {
    switch (scheme) {
    case TAuthScheme::Negotiate:
        return "Negotiate";
    case TAuthScheme::Ntlm:
        return "NTLM";
    case TAuthScheme::Basic:
        return "Basic";
    }
    return "";
}

std::string Base64Encode(const uint8_t* data, size_t size) {
    static const char Alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    for (size_t i = 0; i < size; i += 3) {
        const uint32_t n = uint32_t{data[i]} << 16 |
                           (i + 1 < size ? uint32_t{data[i + 1]} << 8 : 0) |
                           (i + 2 < size ? uint32_t{data[i + 2]} : 0);
        out += Alphabet[n >> 18 & 63];
        out += Alphabet[n >> 12 & 63];
        out += i + 1 < size ? Alphabet[n >> 6 & 63] : '=';
        out += i + 2 < size ? Alphabet[n & 63] : '=';
    }
    return out;
}

std::string BasicAuthorization(std::string_view user, std::string_view password) {
    std::string pair(user);
    pair += ':';
    pair += password;
    std::string value =
        "Basic " + Base64Encode(reinterpret_cast<const uint8_t*>(pair.data()), pair.size());
    // The plain pair must not outlive its use in this process's memory longer than needed.
    for (char& c : pair)
        c = 0;
    return value;
}

std::string ProxyAuthorizationLine(std::string_view value) {
    return "Proxy-Authorization: " + std::string(value) + "\r\n";
}

} // namespace xldl
