// A download finished earlier, and the question whether the server still has the same file:
// one small conditional request instead of fetching it again. The record of a finished file is
// a state (xldl/core/StateFile.h) whose one range is the whole file and whose digest is the
// SHA-256 of its bytes on disk. Pure text in and out; tested natively.
#pragma once

#include "xldl/core/HttpHeaders.h"
#include "xldl/core/StateFile.h"

#include <string>

namespace xldl {

// The header lines (CRLF-terminated) of the question: the file's validator as a condition
// (If-None-Match with a strong entity tag, else If-Modified-Since), and the first byte alone as
// the range, so that a server that ignores the condition still sends next to nothing. Empty
// when the record holds no validator: then nothing can be confirmed.
std::string ConfirmationHeaders(const TSavedState& record);

enum class TConfirmation {
    Same,     // the server's file is the recorded one
    Redirect, // ask again at Location
    Unknown,  // changed, gone, or no telling: fetch it
};

struct TConfirmAnswer {
    TConfirmation Verdict = TConfirmation::Unknown;
    std::string Location;
};

// What the answer to the question means. Same only on proof: "not modified", or an answer that
// shows the recorded length with the recorded strong validator (or, without one, the recorded
// date) and no other digest.
TConfirmAnswer JudgeConfirmation(const THeaders& head, const TSavedState& record);

} // namespace xldl
