#include "ObjectBase/Exception.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using Orv::ExceptionKind;

struct KindCase
{
    const char* name;
    ExceptionKind kind;
    const char* text;
    bool isLogicError;
    bool isRuntimeError;
};

const KindCase kKinds[] = {
    {"LogicError", ExceptionKind::LogicError, "Logic Error", true, false},
    {"RuntimeError", ExceptionKind::RuntimeError, "Runtime Error", false, true},
    {"OutOfRange", ExceptionKind::OutOfRange, "Out of Range", true, false},
    {"DomainError", ExceptionKind::DomainError, "Domain Error", true, false},
    {"InvalidArgument", ExceptionKind::InvalidArgument, "Invalid Argument", true, false},
    {"FailedResult", ExceptionKind::FailedResult, "Failed Result", false, false},
};

void PrintTo(const KindCase& c, std::ostream* out)
{
    *out << c.name;
}

class ExceptionKinds : public testing::TestWithParam<KindCase>
{
};

void ThrowKind(ExceptionKind kind, const std::string& detail)
{
    ::Orv::ThrowException(kind, detail, ORV_THROW_SITE);
}

TEST_P(ExceptionKinds, CaughtByItsStandardBasesAndExceptionBaseWithOneText)
{
    const KindCase& c = GetParam();
    std::string viaStd;
    std::string viaBase;
    bool caughtAsLogic = false;
    bool caughtAsRuntime = false;
    try {
        ThrowKind(c.kind, "detail");
    } catch (const std::logic_error& e) {
        caughtAsLogic = true;
        viaStd = e.what();
        viaBase = dynamic_cast<const Orv::ExceptionBase&>(e).what();
    } catch (const std::runtime_error& e) {
        caughtAsRuntime = true;
        viaStd = e.what();
        viaBase = dynamic_cast<const Orv::ExceptionBase&>(e).what();
    } catch (const std::exception& e) {
        viaStd = e.what();
        viaBase = dynamic_cast<const Orv::ExceptionBase&>(e).what();
    }
    EXPECT_EQ(caughtAsLogic, c.isLogicError);
    EXPECT_EQ(caughtAsRuntime, c.isRuntimeError);
    EXPECT_EQ(viaStd, viaBase);
    EXPECT_EQ(viaStd.rfind(std::string(c.text) + " : detail : ", 0), 0u) << viaStd;

    // And a handler for the framework base alone sees the same text.
    try {
        ThrowKind(c.kind, "detail");
    } catch (const Orv::ExceptionBase& e) {
        EXPECT_EQ(std::string(e.what()), viaStd);
    }
}

INSTANTIATE_TEST_SUITE_P(All, ExceptionKinds, testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Exception, OutOfRangeIsALogicErrorWithTheSameText)
{
    const Orv::Exception<std::out_of_range> thrown("Out of Range : x : f : file : Line 1");
    try {
        throw thrown;
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "Out of Range : x : f : file : Line 1");
    }
    try {
        throw thrown;
    } catch (const Orv::ExceptionBase& e) {
        EXPECT_STREQ(e.what(), "Out of Range : x : f : file : Line 1");
    }
}

TEST(Exception, RuntimeErrorEscapesALogicErrorHandler)
{
    bool logic = false;
    bool runtime = false;
    try {
        try {
            ORV_THROW(RuntimeError);
        } catch (const std::logic_error&) {
            logic = true;
        }
    } catch (const std::runtime_error&) {
        runtime = true;
    }
    EXPECT_FALSE(logic);
    EXPECT_TRUE(runtime);
}

TEST(Exception, FailedResultCaughtAsStdExceptionGivesTheWholeText)
{
    try {
        ORV_THROW_FAILED_RESULT(E_FAIL);
    } catch (const std::exception& e) {
        const std::string text = e.what();
        EXPECT_EQ(text.rfind("Failed Result : ORVRESULT = 80004005 : ", 0), 0u) << text;
        EXPECT_NE(text.find(" : Line "), std::string::npos);
    }
}

TEST(Exception, BadAllocReadsBadAllocation)
{
    try {
        Orv::ThrowBadAlloc();
    } catch (const std::bad_alloc& e) {
        EXPECT_STREQ(e.what(), "bad allocation");
        EXPECT_STREQ(dynamic_cast<const Orv::ExceptionBase&>(e).what(), "bad allocation");
    }
}

TEST(Exception, CopiesKeepTheText)
{
    Orv::Exception<Orv::FailedResultException> original(std::string("Failed Result : a : b"));
    const Orv::Exception<Orv::FailedResultException> copy(original);
    EXPECT_STREQ(copy.what(), "Failed Result : a : b");
    EXPECT_STREQ(static_cast<const Orv::ExceptionBase&>(copy).what(), "Failed Result : a : b");
}

TEST(FormatResultCode, UnsignedUpperCaseHexWithoutPadding)
{
    const struct
    {
        Orv::ORVRESULT code;
        const char* text;
    } cases[] = {
        {S_OK, "ORVRESULT = 0"},
        {S_FALSE, "ORVRESULT = 1"},
        {-1, "ORVRESULT = FFFFFFFF"},
        {E_FAIL, "ORVRESULT = 80004005"},
        {E_INVALIDARG, "ORVRESULT = 80070057"},
        {E_NOTIMPL, "ORVRESULT = 80004001"},
        {E_OUTOFMEMORY, "ORVRESULT = 8007000E"},
        {0x1234abcd, "ORVRESULT = 1234ABCD"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Orv::FormatResultCode(c.code), c.text);
    }
}

}  // namespace

// Throw sites in the shapes the system has: a framework member, a class in the global namespace,
// a class template with a value parameter.
namespace Orv::Sample {
struct LThrower
{
    static int line;
    void Write()
    {
        line = __LINE__ + 1;
        ORV_THROW_DETAIL(RuntimeError,
                         "Null Pointer : LBufferSizePanel couldn't find comboBoxBuffer");
    }
};
int LThrower::line = 0;

template <class T, unsigned long N>
struct RCQueue
{
    static int line;
    T Dequeue()
    {
        line = __LINE__ + 1;
        ORV_THROW(RuntimeError);
    }
};
template <class T, unsigned long N>
int RCQueue<T, N>::line = 0;
struct LPayload
{
};
}  // namespace Orv::Sample

struct LAudioStatus
{
    static int line;
    long GetParamValueLocal(int id) const
    {
        line = __LINE__ + 1;
        ORV_THROW_IF_FAILED(id == 0 ? S_OK : E_INVALIDARG);
        return id;
    }
};
int LAudioStatus::line = 0;

namespace {

std::string TextOf(const std::function<void()>& thrower)
{
    try {
        thrower();
    } catch (const Orv::ExceptionBase& e) {
        return e.what();
    }
    return "(nothing thrown)";
}

TEST(ExceptionText, JoinsKindDetailFunctionFileAndLine)
{
    const std::string member = TextOf([] { Orv::Sample::LThrower().Write(); });
    EXPECT_EQ(member,
              "Runtime Error : Null Pointer : LBufferSizePanel couldn't find comboBoxBuffer : "
              "Orv::Sample::LThrower::Write : ObjectBase\\ExceptionTest : Line " +
                  std::to_string(Orv::Sample::LThrower::line));

    const std::string templated =
        TextOf([] { Orv::Sample::RCQueue<Orv::Sample::LPayload, 256>().Dequeue(); });
    EXPECT_EQ(templated,
              "Runtime Error : Orv::Sample::RCQueue<class Orv::Sample::LPayload,256>::Dequeue : "
              "ObjectBase\\ExceptionTest : Line " +
                  std::to_string(Orv::Sample::RCQueue<Orv::Sample::LPayload, 256>::line));

    const std::string global = TextOf([] { LAudioStatus().GetParamValueLocal(3); });
    EXPECT_EQ(global,
              "Failed Result : ORVRESULT = 80070057 : LAudioStatus::GetParamValueLocal : "
              "ObjectBase\\ExceptionTest : Line " +
                  std::to_string(LAudioStatus::line));
}

TEST(ExceptionText, ThrowIfFailedPassesSuccessesAndEvaluatesOnce)
{
    int calls = 0;
    auto call = [&calls](Orv::ORVRESULT result) {
        ++calls;
        return result;
    };
    EXPECT_NO_THROW(ORV_THROW_IF_FAILED(call(S_OK)));
    EXPECT_NO_THROW(ORV_THROW_IF_FAILED(call(S_FALSE)));
    EXPECT_NO_THROW(ORV_THROW_IF_FAILED(call(7)));  // counts are successes
    EXPECT_THROW(ORV_THROW_IF_FAILED(call(-1)), std::exception);
    EXPECT_EQ(calls, 4);
}

TEST(ExceptionText, NullPointerDetailKeepsItsSeparators)
{
    const std::string text = TextOf([] { ORV_THROW_NULL_POINTER("a : b couldn't find c"); });
    EXPECT_EQ(text.rfind("Runtime Error : Null Pointer : a : b couldn't find c : ", 0), 0u) << text;
    EXPECT_NE(text.find(" : ObjectBase\\ExceptionTest : Line "), std::string::npos) << text;
}

TEST(ExceptionText, EmptyDetailIsLeftOut)
{
    const Orv::ThrowSite site{"void Orv::File::Write(int)", "Utilities\\Storage\\OrvFile", 12};
    EXPECT_EQ(Orv::ComposeExceptionText(ExceptionKind::DomainError, "", site),
              "Domain Error : Orv::File::Write : Utilities\\Storage\\OrvFile : Line 12");
    EXPECT_EQ(
        Orv::ComposeExceptionText(ExceptionKind::InvalidArgument, "Bad. : x", site),
        "Invalid Argument : Bad. : x : Orv::File::Write : Utilities\\Storage\\OrvFile : Line 12");
}

}  // namespace
