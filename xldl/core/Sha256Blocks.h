// SHA-256's compression of whole 64-byte blocks, in more than one kind of code: the processor's
// own SHA instructions run several times the speed of plain code, and every downloaded file is
// hashed whole, so a fast download would otherwise wait on its own digest.
#pragma once

#include <cstddef>
#include <cstdint>

namespace xldl {

enum class TSha256Code {
    Plain,      // portable C++, on every processor
    Extensions, // x86 SHA extensions (with SSE4.1)
};

// Compresses `blocks` consecutive 64-byte blocks at `data` into `state`.
using TSha256Blocks = void (*)(uint32_t state[8], const uint8_t* data, size_t blocks);

// `code`'s compression, or nullptr where this processor (or this build's target) lacks it.
TSha256Blocks Sha256Blocks(TSha256Code code);
// The fastest this processor runs, asked of the processor once.
TSha256Blocks FastestSha256Blocks();

} // namespace xldl
