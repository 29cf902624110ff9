// A stand-in for Schannel behind the TLS session's seam, for the states Wine's Schannel never
// reaches: credentials each Windows takes or refuses and the versions it then offers, TLS 1.3
// with its tickets and key updates, a TLS 1.2 renegotiation, close_notify, a server that asks
// for a client certificate. It answers as real Schannel does, status by status, on a toy wire:
// records of one kind byte, a big-endian 16-bit length and the payload, which a scripted server
// on the other end of a loopback connection sends and reads.
//
// Misuse of the interface (buffers of the wrong kind, calls out of order, a token not freed, a
// handle freed twice) is noted in Violations rather than crashing, so a test can say what.
#pragma once

#include "xldl/Schannel.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace standin {

// Server to client: a handshake flight, application data, a TLS 1.3 ticket or key update, a
// TLS 1.2 hello request, close_notify, a fatal alert. Client to server: a handshake token,
// application data.
enum : char {
    Flight = 'H',
    Data = 'D',
    Ticket = 'T',
    KeyUpdate = 'K',
    HelloRequest = 'R',
    CloseNotify = 'C',
    Alert = 'A',
    ClientToken = 'h',
    ClientData = 'd',
};

std::string Record(char kind, const std::string& payload = "");
// The size of the whole record at the start of `data`, or 0 while it is incomplete.
size_t RecordSize(const uint8_t* data, size_t size);

// The protocols of a toy handshake's words ("client-hello 800"): a hex SP_PROT_* mask.
std::string ProtocolWord(DWORD protocols);
DWORD ParseProtocolWord(const std::string& word);

// What a Windows release's Schannel takes and offers. `Defaults` is what it offers a program
// that leaves the choice to it; naming protocols in SCHANNEL_CRED can reach any of
// `Supported` (the only way to TLS 1.2 on Windows 7); SCH_CREDENTIALS can only take away from
// the defaults.
struct TSystemModel {
    const char* Name;
    bool TakesSchCredentials;
    SECURITY_STATUS RefusesSchCredentialsWith;
    DWORD Supported;
    DWORD Defaults;
};

extern const TSystemModel Windows7;
extern const TSystemModel Windows81;
extern const TSystemModel Windows10Before1809;
extern const TSystemModel Windows11;

class TScriptedSchannel final : public xldl::TSchannel {
public:
    explicit TScriptedSchannel(const TSystemModel& system) : System(system) {}
    ~TScriptedSchannel() override;

    // The verdicts VerifyServer gives, one per completed handshake (0 after the last).
    std::vector<uint32_t> Verdicts;
    // Signalled whenever a call answers SEC_E_INCOMPLETE_MESSAGE (the server then knows the
    // client has read a part of a record and waits for the rest).
    HANDLE Incomplete = CreateEventA(nullptr, FALSE, FALSE, nullptr);

    // What happened, for the tests: the credential structures offered ("SCH_CREDENTIALS" or
    // "SCHANNEL_CRED") with the flags asked, what each credential handle has the system offer
    // (by handle), the targets and hosts named, and misuse.
    std::vector<std::string> CredentialKinds;
    std::vector<DWORD> CredentialFlags;
    std::vector<DWORD> Offered;
    std::vector<std::string> Targets;
    std::vector<std::string> VerifiedHosts;
    std::vector<std::string> Violations;
    // Checks that every token was freed and every handle released once; adds to Violations.
    void CheckReleased();

    SECURITY_STATUS AcquireCredentials(void* authData, CredHandle* cred) override;
    SECURITY_STATUS InitializeContext(CredHandle* cred, CtxtHandle* context, const char* target,
                                      ULONG flags, SecBufferDesc* input, CtxtHandle* newContext,
                                      SecBufferDesc* output, ULONG* attributes) override;
    SECURITY_STATUS Decrypt(CtxtHandle* context, SecBufferDesc* message) override;
    SECURITY_STATUS Encrypt(CtxtHandle* context, SecBufferDesc* message) override;
    SECURITY_STATUS QueryAttributes(CtxtHandle* context, ULONG attribute, void* buffer) override;
    void DeleteContext(CtxtHandle* context) override;
    void FreeCredentials(CredHandle* cred) override;
    void FreeBuffer(void* buffer) override;
    uint32_t VerifyServer(CtxtHandle* context, const std::string& host) override;

    static constexpr unsigned long HeaderSize = 3;
    static constexpr unsigned long TrailerSize = 2;
    // Small, so that a request goes out in several records.
    static constexpr unsigned long MaxMessage = 16;

private:
    enum class TState { None, Handshaking, Established, PostHandshake, Renegotiating, Closed };
    SECURITY_STATUS Incompletely(SecBuffer& buffer, size_t missing);
    void Token(SecBufferDesc* output, const std::string& payload);
    bool Expect(bool condition, const std::string& what);

    const TSystemModel& System;
    std::vector<bool> CredFreed;
    TState State = TState::None;
    bool ContextMade = false;
    bool ContextDeleted = false;
    DWORD Protocol = 0;
    size_t Handshakes = 0;
    std::set<void*> Tokens;
};

} // namespace standin
