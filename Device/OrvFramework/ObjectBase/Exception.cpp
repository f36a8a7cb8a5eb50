#include "ObjectBase/Exception.h"

#include <cstdio>

namespace Orv {

ExceptionBase::~ExceptionBase() = default;

const char* ExceptionBase::what() const noexcept
{
    // Every ExceptionBase is part of an Exception<Std>, whose standard part holds the text.
    const auto* standard = dynamic_cast<const std::exception*>(this);
    return standard != nullptr ? standard->what() : "";
}

const char* ExceptionKindText(ExceptionKind kind)
{
    switch (kind) {
        case ExceptionKind::LogicError:
            return "Logic Error";
        case ExceptionKind::RuntimeError:
            return "Runtime Error";
        case ExceptionKind::OutOfRange:
            return "Out of Range";
        case ExceptionKind::DomainError:
            return "Domain Error";
        case ExceptionKind::InvalidArgument:
            return "Invalid Argument";
        case ExceptionKind::FailedResult:
            return "Failed Result";
    }
    return "Logic Error";
}

std::string FormatResultCode(ORVRESULT code)
{
    char digits[65];
    std::snprintf(digits, sizeof digits, "%X",
                  static_cast<unsigned int>(static_cast<uint32_t>(code)));
    return std::string("ORVRESULT = ") + digits;
}

std::string ComposeExceptionText(ExceptionKind kind, std::string_view detail, const ThrowSite& site)
{
    std::string text = ExceptionKindText(kind);
    text += " : ";
    if (!detail.empty()) {
        text += detail;
        text += " : ";
    }
    text += Detail::QualifiedFunctionName(site.prettyFunction);
    text += " : ";
    text += site.file;
    text += " : Line ";
    text += std::to_string(site.line);
    return text;
}

void ThrowException(ExceptionKind kind, std::string_view detail, const ThrowSite& site)
{
    const std::string text = ComposeExceptionText(kind, detail, site);
    switch (kind) {
        case ExceptionKind::LogicError:
            throw Exception<std::logic_error>(text);
        case ExceptionKind::RuntimeError:
            throw Exception<std::runtime_error>(text);
        case ExceptionKind::OutOfRange:
            throw Exception<std::out_of_range>(text);
        case ExceptionKind::DomainError:
            throw Exception<std::domain_error>(text);
        case ExceptionKind::InvalidArgument:
            throw Exception<std::invalid_argument>(text);
        case ExceptionKind::FailedResult:
            throw Exception<FailedResultException>(text);
    }
    throw Exception<std::logic_error>(text);
}

void ThrowFailedResult(ORVRESULT code, const ThrowSite& site)
{
    ThrowException(ExceptionKind::FailedResult, FormatResultCode(code), site);
}

void ThrowBadAlloc()
{
    throw Exception<std::bad_alloc>();
}

}  // namespace Orv
