// Messages as the framework's handlers see them, and the numbers of the framework's own
// component messages. A handler is chosen by message number in a control's WndProc.
#pragma once

#include <windows.h>

struct TMessage {
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    LRESULT Result = 0;
};

// Component messages: notifications between framework objects, sent synchronously.
constexpr UINT CM_BASE = 0xB000;
constexpr UINT CM_ENABLEDCHANGED = CM_BASE + 2;
constexpr UINT CM_COLORCHANGED = CM_BASE + 3;
constexpr UINT CM_FONTCHANGED = CM_BASE + 4;
constexpr UINT CM_PARENTCOLORCHANGED = CM_BASE + 9;
constexpr UINT CM_PARENTFONTCHANGED = CM_BASE + 8;
constexpr UINT CM_MOUSEENTER = CM_BASE + 19;
constexpr UINT CM_MOUSELEAVE = CM_BASE + 20;
constexpr UINT CM_TEXTCHANGED = CM_BASE + 18;
constexpr UINT CM_DIALOGKEY = CM_BASE + 5;
constexpr UINT CM_DIALOGCHAR = CM_BASE + 6;
constexpr UINT CM_FOCUSCHANGED = CM_BASE + 7;
constexpr UINT CM_VISIBLECHANGED = CM_BASE + 22;

// A system control's notification (WM_COMMAND) handed back to it by its parent.
constexpr UINT CN_BASE = 0xBC00;
constexpr UINT CN_COMMAND = CN_BASE + WM_COMMAND;

// The blink scheduler's two messages to the styled labels.
constexpr UINT BlinkQueryMessage = CM_BASE + 1000; // reply 1: "I am blinking"
constexpr UINT BlinkPhaseMessage = CM_BASE + 1001; // WParam: the phase that has begun
static_assert(BlinkQueryMessage == 46056 && BlinkPhaseMessage == 46057);
