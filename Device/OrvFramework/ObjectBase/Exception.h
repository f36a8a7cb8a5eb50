#pragma once
// The framework's exceptions. Every text joins, with " : ", the kind, an optional detail, the
// throwing function, its source file and "Line <n>":
//   "Runtime Error : Orv::LRefCountedObject::SetUnshareable : ObjectBase\RefCountedObject : Line
//   29"
// Throw through the ORV_THROW... macros so the function, file and line are those of the throw site.

#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "ObjectBase/OrvResult.h"
#include "ObjectBase/SourceName.h"

namespace Orv {

// Lets one handler catch every framework exception; `what` gives the same text as the standard
// part of the exception it belongs to.
class ExceptionBase
{
public:
    virtual ~ExceptionBase();
    virtual const char* what() const noexcept;
};

// The standard part of a thrown failed result: it owns the message, which is the only place that
// carries the result code.
class FailedResultException : public std::exception
{
public:
    explicit FailedResultException(std::string message) : message(std::move(message)) {}
    const char* what() const noexcept override { return message.c_str(); }

private:
    std::string message;
};

template <class Std>
class Exception : public Std, public ExceptionBase
{
public:
    explicit Exception(const char* text) : Std(text) {}
    explicit Exception(const std::string& text) : Std(text) {}
    const char* what() const noexcept override { return Std::what(); }
};

// std::bad_alloc takes no text; this one reads "bad allocation" on every platform.
template <>
class Exception<std::bad_alloc> : public std::bad_alloc, public ExceptionBase
{
public:
    Exception() noexcept = default;
    const char* what() const noexcept override { return "bad allocation"; }
};

enum class ExceptionKind
{
    LogicError,
    RuntimeError,
    OutOfRange,
    DomainError,
    InvalidArgument,
    FailedResult,
};

// "Logic Error", "Runtime Error", "Out of Range", "Domain Error", "Invalid Argument",
// "Failed Result".
const char* ExceptionKindText(ExceptionKind kind);

// "ORVRESULT = " and the code as unsigned upper-case hexadecimal: "ORVRESULT = 80004005".
std::string FormatResultCode(ORVRESULT code);

struct ThrowSite
{
    const char* prettyFunction;  // __PRETTY_FUNCTION__
    const char* file;            // ORV_THIS_FILE
    int line;
};

// The complete text: kind, detail (left out when empty), function, file, "Line n".
std::string ComposeExceptionText(ExceptionKind kind, std::string_view detail,
                                 const ThrowSite& site);

// Throws the Orv::Exception instance that the kind names.
[[noreturn]] void ThrowException(ExceptionKind kind, std::string_view detail,
                                 const ThrowSite& site);
[[noreturn]] void ThrowFailedResult(ORVRESULT code, const ThrowSite& site);
[[noreturn]] void ThrowBadAlloc();

}  // namespace Orv

#define ORV_THROW_SITE (::Orv::ThrowSite{__PRETTY_FUNCTION__, ORV_THIS_FILE, __LINE__})

// ORV_THROW(RuntimeError); ORV_THROW_DETAIL(InvalidArgument, "Invalid ResizeType passed ...");
#define ORV_THROW(kind) ::Orv::ThrowException(::Orv::ExceptionKind::kind, {}, ORV_THROW_SITE)
#define ORV_THROW_DETAIL(kind, detail) \
    ::Orv::ThrowException(::Orv::ExceptionKind::kind, (detail), ORV_THROW_SITE)

// A required object is missing: "Runtime Error : Null Pointer : <what> : ...".
#define ORV_THROW_NULL_POINTER(what)                          \
    ::Orv::ThrowException(::Orv::ExceptionKind::RuntimeError, \
                          std::string("Null Pointer : ") + std::string(what), ORV_THROW_SITE)

#define ORV_THROW_FAILED_RESULT(code) ::Orv::ThrowFailedResult((code), ORV_THROW_SITE)

// Evaluates a call once and throws its result when it is a failure.
#define ORV_THROW_IF_FAILED(expression)                        \
    do {                                                       \
        const ::Orv::ORVRESULT orvResultOfCall = (expression); \
        if (orvResultOfCall < 0) {                             \
            ORV_THROW_FAILED_RESULT(orvResultOfCall);          \
        }                                                      \
    } while (false)
