#pragma once
// LWrapperStringable<T, ToStringFn, Base>: an LWrapper whose ToString is what ToStringFn makes of
// the value. LWrapperStringable<WideString> holds a copy of a text over LTaggableObject: the text
// payload of status texts, the clipboard and list entries, whose ToString gives the text back.

#include "ObjectBase/RCPtr.h"
#include "ObjectBase/TaggableObject.h"
#include "ObjectBase/Wrapper.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

// A copy of the text (the ToStringFn of wrapped strings).
inline StringT<char16_t, char> StringToString(const StringT<char16_t, char>& text)
{
    return text;
}

template <class T, StringT<char16_t, char> (*ToStringFn)(const T&) = &StringToString,
          class Base = LTaggableObject>
class LWrapperStringable : public LWrapper<T, Base>
{
public:
    explicit LWrapperStringable(const T& value) : LWrapper<T, Base>(value) {}

    static RCPtr<LWrapperStringable> Create(const T& value)
    {
        return RCPtr<LWrapperStringable>(new LWrapperStringable(value));
    }

    StringT<char16_t, char> ToString() const override { return ToStringFn(this->GetValue()); }
};

// The tag of a list or combo entry: a counted copy of the text, seen as its LTaggableObject.
inline RCPtr<LTaggableObject> MakeStringTag(const StringT<char16_t, char>& text)
{
    return RCPtr<LTaggableObject>(LWrapperStringable<StringT<char16_t, char>>::Create(text));
}

}  // namespace Orv
