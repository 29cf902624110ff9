// TControl: a component that takes messages. Each control has one virtual WndProc that picks
// a handler by message number and passes the rest on to its base class; what reaches the
// root goes to DefaultHandler. Perform delivers a message synchronously.
#pragma once

#include "framework/Component.h"
#include "framework/Messages.h"

class TControl : public TComponent {
public:
    explicit TControl(TComponent* owner) : TComponent(owner) {}

    LRESULT Perform(UINT msg, WPARAM wparam = 0, LPARAM lparam = 0) {
        TMessage message{msg, wparam, lparam, 0};
        WndProc(message);
        return message.Result;
    }

    virtual void WndProc(TMessage& message) { DefaultHandler(message); }

protected:
    // What happens to a message nobody handles: nothing, and a reply of 0.
    virtual void DefaultHandler(TMessage& message) { message.Result = 0; }
};
