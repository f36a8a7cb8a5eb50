#pragma once
// ITextInputControl: what a control that takes typed text (a text box) implements besides
// LControl. The root window asks the host to open text input (the input method, an on-screen
// keyboard) only for such a control, and only while it says it accepts text: a read-only entry
// answers false.

namespace Orv {

class ITextInputControl
{
public:
    virtual bool AcceptsTextInput() const = 0;

protected:
    ITextInputControl() = default;
    ~ITextInputControl() = default;
    ITextInputControl(const ITextInputControl&) = default;
    ITextInputControl& operator=(const ITextInputControl&) = default;
};

}  // namespace Orv
