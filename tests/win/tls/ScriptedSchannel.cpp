#include "ScriptedSchannel.h"

#include <cstdio>
#include <cstring>
#include <sstream>

namespace standin {

namespace {

constexpr DWORD Ssl3 = SP_PROT_SSL3_CLIENT;
constexpr DWORD Tls10 = SP_PROT_TLS1_0_CLIENT;
constexpr DWORD Tls11 = SP_PROT_TLS1_1_CLIENT;
constexpr DWORD Tls12 = SP_PROT_TLS1_2_CLIENT;
constexpr DWORD Tls13 = SP_PROT_TLS1_3_CLIENT;

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

bool Has(const std::vector<std::string>& words, const char* word) {
    for (const std::string& w : words)
        if (w == word) return true;
    return false;
}

} // namespace

// Which error a release gives for a structure it does not know is not the point: any refusal
// must lead the session to the old structure.
const TSystemModel Windows7{"Windows 7 SP1", false, SEC_E_UNKNOWN_CREDENTIALS,
                            Ssl3 | Tls10 | Tls11 | Tls12, Ssl3 | Tls10};
const TSystemModel Windows81{"Windows 8.1", false, SEC_E_NO_CREDENTIALS,
                             Ssl3 | Tls10 | Tls11 | Tls12, Tls10 | Tls11 | Tls12};
const TSystemModel Windows10Before1809{"Windows 10 1607", false, SEC_E_INTERNAL_ERROR,
                                       Ssl3 | Tls10 | Tls11 | Tls12, Tls10 | Tls11 | Tls12};
const TSystemModel Windows11{"Windows 11", true, SEC_E_OK, Ssl3 | Tls10 | Tls11 | Tls12 | Tls13,
                             Tls10 | Tls11 | Tls12 | Tls13};

std::string Record(char kind, const std::string& payload) {
    std::string r(1, kind);
    r += static_cast<char>(payload.size() >> 8);
    r += static_cast<char>(payload.size() & 0xff);
    return r + payload;
}

size_t RecordSize(const uint8_t* data, size_t size) {
    if (size < TScriptedSchannel::HeaderSize) return 0;
    const size_t whole = TScriptedSchannel::HeaderSize + (size_t{data[1]} << 8 | data[2]);
    return size >= whole ? whole : 0;
}

std::string ProtocolWord(DWORD protocols) {
    char text[16];
    std::snprintf(text, sizeof text, "%lx", static_cast<unsigned long>(protocols));
    return text;
}

DWORD ParseProtocolWord(const std::string& word) {
    return static_cast<DWORD>(std::strtoul(word.c_str(), nullptr, 16));
}

TScriptedSchannel::~TScriptedSchannel() {
    for (void* t : Tokens)
        delete[] static_cast<uint8_t*>(t);
    CloseHandle(Incomplete);
}

bool TScriptedSchannel::Expect(bool condition, const std::string& what) {
    if (!condition) Violations.push_back(what);
    return condition;
}

void TScriptedSchannel::CheckReleased() {
    Expect(Tokens.empty(), std::to_string(Tokens.size()) + " token(s) never freed");
    Expect(!ContextMade || ContextDeleted, "the context was never deleted");
    for (size_t i = 0; i < CredFreed.size(); ++i)
        Expect(CredFreed[i], "credentials " + std::to_string(i) + " never freed");
}

SECURITY_STATUS TScriptedSchannel::Incompletely(SecBuffer& buffer, size_t missing) {
    buffer.BufferType = SECBUFFER_MISSING;
    buffer.cbBuffer = static_cast<unsigned long>(missing);
    SetEvent(Incomplete);
    return SEC_E_INCOMPLETE_MESSAGE;
}

void TScriptedSchannel::Token(SecBufferDesc* output, const std::string& payload) {
    const std::string record = Record(ClientToken, payload);
    auto* token = new uint8_t[record.size()];
    std::memcpy(token, record.data(), record.size());
    Tokens.insert(token);
    output->pBuffers[0].pvBuffer = token;
    output->pBuffers[0].cbBuffer = static_cast<unsigned long>(record.size());
}

SECURITY_STATUS TScriptedSchannel::AcquireCredentials(void* authData, CredHandle* cred) {
    DWORD offer = 0;
    const DWORD version = *static_cast<const DWORD*>(authData);
    if (version == SCH_CREDENTIALS_VERSION) {
        const auto* c = static_cast<const SCH_CREDENTIALS*>(authData);
        CredentialKinds.push_back("SCH_CREDENTIALS");
        CredentialFlags.push_back(c->dwFlags);
        if (!System.TakesSchCredentials) return System.RefusesSchCredentialsWith;
        DWORD disabled = 0;
        for (DWORD i = 0; i < c->cTlsParameters; ++i)
            disabled |= c->pTlsParameters[i].grbitDisabledProtocols;
        offer = System.Defaults & ~disabled;
    } else if (version == SCHANNEL_CRED_VERSION) {
        const auto* c = static_cast<const SCHANNEL_CRED*>(authData);
        CredentialKinds.push_back("SCHANNEL_CRED");
        CredentialFlags.push_back(c->dwFlags);
        // TLS 1.3 is never offered through the old structure.
        offer = (c->grbitEnabledProtocols ? c->grbitEnabledProtocols & System.Supported
                                          : System.Defaults) &
                ~Tls13;
    } else {
        Expect(false, "credentials of unknown version " + std::to_string(version));
        return SEC_E_UNKNOWN_CREDENTIALS;
    }
    cred->dwLower = Offered.size();
    cred->dwUpper = 0;
    Offered.push_back(offer);
    CredFreed.push_back(false);
    return SEC_E_OK;
}

SECURITY_STATUS TScriptedSchannel::InitializeContext(CredHandle* cred, CtxtHandle* context,
                                                     const char* target, ULONG flags,
                                                     SecBufferDesc* input, CtxtHandle* newContext,
                                                     SecBufferDesc* output, ULONG* attributes) {
    if (!Expect(cred && cred->dwLower < Offered.size() && !CredFreed[cred->dwLower],
                "InitializeContext without live credentials") ||
        !Expect(flags & ISC_REQ_ALLOCATE_MEMORY, "tokens not left to Schannel to allocate") ||
        !Expect(output && output->cBuffers >= 1 &&
                    output->pBuffers[0].BufferType == SECBUFFER_TOKEN,
                "no output token buffer"))
        return SEC_E_INVALID_TOKEN;
    Expect(flags & ISC_REQ_MANUAL_CRED_VALIDATION, "the server left to Schannel to check");
    if (attributes) *attributes = flags;
    const DWORD offer = Offered[cred->dwLower];
    if (!context) {
        if (!Expect(State == TState::None && newContext, "a second first call")) {
            return SEC_E_INVALID_HANDLE;
        }
        Targets.push_back(target ? target : "");
        if (!offer) return SEC_E_ALGORITHM_MISMATCH;
        ContextMade = true;
        newContext->dwLower = 1;
        newContext->dwUpper = 0;
        State = TState::Handshaking;
        Token(output, "client-hello " + ProtocolWord(offer));
        return SEC_I_CONTINUE_NEEDED;
    }
    if (!Expect(ContextMade && !ContextDeleted && context->dwLower == 1, "a dead context") ||
        !Expect(input && input->cBuffers >= 2 && input->pBuffers[0].BufferType == SECBUFFER_TOKEN &&
                    input->pBuffers[1].BufferType == SECBUFFER_EMPTY,
                "input is not a token and an empty buffer"))
        return SEC_E_INVALID_TOKEN;
    SecBuffer& in = input->pBuffers[0];
    SecBuffer& rest = input->pBuffers[1];
    const auto* data = static_cast<const uint8_t*>(in.pvBuffer);
    const size_t size = in.cbBuffer;
    auto leave = [&](size_t used, SECURITY_STATUS status) {
        if (used < size) {
            rest.BufferType = SECBUFFER_EXTRA; // real Schannel gives the count alone
            rest.cbBuffer = static_cast<unsigned long>(size - used);
            rest.pvBuffer = nullptr;
        }
        return status;
    };
    if (State == TState::Renegotiating) { // after a hello request: a new ClientHello first
        State = TState::Handshaking;
        Token(output, "client-hello " + ProtocolWord(offer));
        return leave(0, SEC_I_CONTINUE_NEEDED);
    }
    const size_t whole = RecordSize(data, size);
    if (!whole) {
        return Incompletely(rest, size < HeaderSize ? HeaderSize - size
                                                    : HeaderSize + (data[1] << 8 | data[2]) - size);
    }
    const char kind = static_cast<char>(data[0]);
    const std::vector<std::string> words =
        Words(std::string(reinterpret_cast<const char*>(data) + HeaderSize, whole - HeaderSize));
    auto complete = [&] {
        State = TState::Established;
        ++Handshakes;
    };
    if (State == TState::PostHandshake) {
        if (kind == Ticket) {
            State = TState::Established;
            return leave(whole, SEC_E_OK);
        }
        if (kind == KeyUpdate) {
            State = TState::Established;
            if (Has(words, "request")) Token(output, "key-update");
            return leave(whole, SEC_E_OK);
        }
        Expect(false, std::string("post-handshake input of kind ") + kind);
        return SEC_E_ILLEGAL_MESSAGE;
    }
    if (!Expect(State == TState::Handshaking, "InitializeContext with no handshake under way"))
        return SEC_E_INVALID_TOKEN;
    if (kind == Alert) return SEC_E_UNSUPPORTED_FUNCTION; // the server's protocol_version
    if (kind != Flight || words.empty()) return SEC_E_ILLEGAL_MESSAGE;
    if (words[0] == "server-hello" && words.size() >= 2) {
        if (Has(words, "cert-request") && !(flags & ISC_REQ_USE_SUPPLIED_CREDS))
            return SEC_I_INCOMPLETE_CREDENTIALS; // nothing taken: the same input comes again
        Protocol = ParseProtocolWord(words[1]);
        Token(output, "client-finished");
        if (!Has(words, "finished")) return leave(whole, SEC_I_CONTINUE_NEEDED);
        complete(); // TLS 1.3: the server's whole flight, our Finished goes out with SEC_E_OK
        return leave(whole, SEC_E_OK);
    }
    if (words[0] == "server-finished") {
        complete();
        return leave(whole, SEC_E_OK);
    }
    return SEC_E_ILLEGAL_MESSAGE;
}

SECURITY_STATUS TScriptedSchannel::Decrypt(CtxtHandle* context, SecBufferDesc* message) {
    if (!Expect(context && context->dwLower == 1 && ContextMade && !ContextDeleted,
                "Decrypt on a dead context") ||
        !Expect(message && message->cBuffers == 4 &&
                    message->pBuffers[0].BufferType == SECBUFFER_DATA &&
                    message->pBuffers[1].BufferType == SECBUFFER_EMPTY &&
                    message->pBuffers[2].BufferType == SECBUFFER_EMPTY &&
                    message->pBuffers[3].BufferType == SECBUFFER_EMPTY,
                "Decrypt's buffers are not data and three empty ones"))
        return SEC_E_INVALID_TOKEN;
    if (!Expect(State == TState::Established,
                "Decrypt while the handshake wants the input (state " +
                    std::to_string(static_cast<int>(State)) + ")"))
        return SEC_E_INVALID_HANDLE;
    SecBuffer* b = message->pBuffers;
    auto* data = static_cast<uint8_t*>(b[0].pvBuffer);
    const size_t size = b[0].cbBuffer;
    const size_t whole = RecordSize(data, size);
    if (!whole) return Incompletely(b[0], 0);
    const char kind = static_cast<char>(data[0]);
    // Decrypted in place: the plain text lies where the record was.
    b[0] = {HeaderSize, SECBUFFER_STREAM_HEADER, data};
    b[1] = {0, SECBUFFER_DATA, data + HeaderSize};
    b[2] = {0, SECBUFFER_STREAM_TRAILER, data + whole};
    auto leave = [&](size_t used, SECURITY_STATUS status) {
        if (used < size)
            b[3] = {static_cast<unsigned long>(size - used), SECBUFFER_EXTRA, data + used};
        return status;
    };
    const bool tls13 = Protocol == Tls13;
    switch (kind) {
    case Data:
        b[1].cbBuffer = static_cast<unsigned long>(whole - HeaderSize);
        return leave(whole, SEC_E_OK);
    case Ticket:
    case KeyUpdate:
        if (!tls13) break;
        // The message itself goes back, as the first of the extra bytes, to the handshake.
        State = TState::PostHandshake;
        return leave(0, SEC_I_RENEGOTIATE);
    case HelloRequest:
        if (tls13) break;
        State = TState::Renegotiating;
        return leave(whole, SEC_I_RENEGOTIATE);
    case CloseNotify:
        State = TState::Closed;
        return leave(whole, SEC_I_CONTEXT_EXPIRED);
    default:
        break;
    }
    return SEC_E_DECRYPT_FAILURE;
}

SECURITY_STATUS TScriptedSchannel::Encrypt(CtxtHandle* context, SecBufferDesc* message) {
    if (!Expect(context && context->dwLower == 1 && ContextMade && !ContextDeleted,
                "Encrypt on a dead context") ||
        !Expect(State == TState::Established, "Encrypt outside an established session"))
        return SEC_E_INVALID_HANDLE;
    SecBuffer* b = message ? message->pBuffers : nullptr;
    if (!Expect(b && message->cBuffers >= 3 && b[0].BufferType == SECBUFFER_STREAM_HEADER &&
                    b[1].BufferType == SECBUFFER_DATA &&
                    b[2].BufferType == SECBUFFER_STREAM_TRAILER,
                "Encrypt's buffers are not header, data, trailer") ||
        !Expect(b[0].cbBuffer == HeaderSize && b[2].cbBuffer == TrailerSize &&
                    b[1].cbBuffer <= MaxMessage,
                "Encrypt's buffer sizes are not the stream sizes") ||
        !Expect(static_cast<uint8_t*>(b[0].pvBuffer) + HeaderSize == b[1].pvBuffer &&
                    static_cast<uint8_t*>(b[1].pvBuffer) + b[1].cbBuffer == b[2].pvBuffer,
                "Encrypt's buffers are not one after the other"))
        return SEC_E_INVALID_TOKEN;
    // The trailer stands for the MAC: inside the record's length, after the data.
    const std::string header = Record(ClientData, std::string(b[1].cbBuffer + TrailerSize, ' '));
    std::memcpy(b[0].pvBuffer, header.data(), HeaderSize);
    std::memcpy(b[2].pvBuffer, "!!", TrailerSize);
    return SEC_E_OK;
}

SECURITY_STATUS TScriptedSchannel::QueryAttributes(CtxtHandle* context, ULONG attribute,
                                                   void* buffer) {
    if (!Expect(context && ContextMade && !ContextDeleted, "QueryAttributes on a dead context") ||
        !Expect(State == TState::Established, "QueryAttributes before the handshake is done"))
        return SEC_E_INVALID_HANDLE;
    if (attribute == SECPKG_ATTR_CONNECTION_INFO) {
        auto* info = static_cast<SecPkgContext_ConnectionInfo*>(buffer);
        std::memset(info, 0, sizeof *info);
        info->dwProtocol = Protocol;
        return SEC_E_OK;
    }
    if (attribute == SECPKG_ATTR_STREAM_SIZES) {
        auto* sizes = static_cast<SecPkgContext_StreamSizes*>(buffer);
        *sizes = {HeaderSize, TrailerSize, MaxMessage, 4, 1};
        return SEC_E_OK;
    }
    return SEC_E_UNSUPPORTED_FUNCTION;
}

void TScriptedSchannel::DeleteContext(CtxtHandle* context) {
    if (Expect(context && context->dwLower == 1 && ContextMade && !ContextDeleted,
               "DeleteContext of no live context"))
        ContextDeleted = true;
}

void TScriptedSchannel::FreeCredentials(CredHandle* cred) {
    if (Expect(cred && cred->dwLower < CredFreed.size() && !CredFreed[cred->dwLower],
               "FreeCredentials of no live credentials"))
        CredFreed[cred->dwLower] = true;
}

void TScriptedSchannel::FreeBuffer(void* buffer) {
    if (Expect(Tokens.erase(buffer) == 1, "FreeBuffer of a buffer never handed out"))
        delete[] static_cast<uint8_t*>(buffer);
}

uint32_t TScriptedSchannel::VerifyServer(CtxtHandle* context, const std::string& host) {
    Expect(context && ContextMade && !ContextDeleted && State == TState::Established,
           "VerifyServer before the handshake is done");
    VerifiedHosts.push_back(host);
    return Handshakes <= Verdicts.size() && Handshakes > 0 ? Verdicts[Handshakes - 1] : 0;
}

} // namespace standin
