// The engine's trace lines, formatted without the C runtime's printf: its formatter, floating
// point and all, would be a twelfth of the DLL, for the traces alone. This one knows what the
// traces use, as printf does: %d %i %u %x %X %c %s %%, the length modifiers hh h l ll z j t, a
// width and the '-' and '0' flags. At anything else it copies the rest of the format as it
// stands and reads no further argument.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace xldl {

// Formats into `out` (`capacity` > 0 bytes; always ended by a NUL), cut to fit; returns the
// length written.
size_t FormatTrace(char* out, size_t capacity, const char* format, va_list args);
size_t FormatTraceArgs(char* out, size_t capacity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

} // namespace xldl
