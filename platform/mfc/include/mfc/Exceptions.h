#pragma once
// MFC's exceptions are thrown as pointers; the catcher calls Delete.

class CException
{
public:
    virtual ~CException() = default;
    void Delete() { delete this; }
};

// A resource (a window class, a window) could not be made.
class CResourceException : public CException
{
};

[[noreturn]] void AfxThrowResourceException();
