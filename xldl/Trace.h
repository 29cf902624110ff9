// What the connections of a transfer do, with times, written to a file when XLDL_TRACE names
// one: for seeing where a far mirror's round trips go. Off, it costs a test of one pointer.
#pragma once

#include <string>

namespace xldl {

void TraceOpen(const std::string& path);
void TraceClose();
bool Tracing();
// One line: milliseconds since TraceOpen, then the text (printf format).
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace xldl
