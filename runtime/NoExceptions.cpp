// What a binary built without exceptions (the engine) takes in place of the C++ runtime's
// parts that throw: with these and LibraryErrors.cpp, nothing in it links the exception
// machinery (its personality routine, the unwinder, the library's exception types), about a
// fifth of the DLL. A failed allocation ends the process, as an uncaught std::bad_alloc did.
#include "runtime/LibraryErrors.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <new>

void* operator new(std::size_t size) {
    if (void* p = std::malloc(size ? size : 1)) return p;
    NoExceptionsFailure("std::bad_alloc");
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

// Function-local statics are set up once, by the first thread to reach them, while later ones
// wait. The runtime's own guards go through its POSIX thread layer and throw when a static's
// set-up reaches itself; these wait on an SRW lock's condition (Windows 7 has both). The
// guard's first byte says done (the compiler's inline check reads it), its second that a
// thread is setting the static up.
namespace {

SRWLOCK GuardLock = SRWLOCK_INIT;
CONDITION_VARIABLE GuardDone = CONDITION_VARIABLE_INIT;

} // namespace

extern "C" {

int __cxa_guard_acquire(uint64_t* guard) {
    auto* bytes = reinterpret_cast<volatile uint8_t*>(guard);
    if (__atomic_load_n(&bytes[0], __ATOMIC_ACQUIRE)) return 0;
    AcquireSRWLockExclusive(&GuardLock);
    while (!bytes[0] && bytes[1])
        SleepConditionVariableSRW(&GuardDone, &GuardLock, INFINITE, 0);
    const bool mine = !bytes[0];
    if (mine) bytes[1] = 1;
    ReleaseSRWLockExclusive(&GuardLock);
    return mine ? 1 : 0;
}

void __cxa_guard_release(uint64_t* guard) {
    auto* bytes = reinterpret_cast<volatile uint8_t*>(guard);
    AcquireSRWLockExclusive(&GuardLock);
    __atomic_store_n(&bytes[0], 1, __ATOMIC_RELEASE);
    bytes[1] = 0;
    ReleaseSRWLockExclusive(&GuardLock);
    WakeAllConditionVariable(&GuardDone);
}

void __cxa_guard_abort(uint64_t* guard) {
    auto* bytes = reinterpret_cast<volatile uint8_t*>(guard);
    AcquireSRWLockExclusive(&GuardLock);
    bytes[1] = 0;
    ReleaseSRWLockExclusive(&GuardLock);
    WakeAllConditionVariable(&GuardDone);
}

} // extern "C"
