// The framework's payload pools are built before main: a static that main builds before it makes
// its first payloads, and whose destructor makes and drops payloads of every pooled class at exit,
// still finds each pool alive and the block main gave back in it. A pool built only on first use,
// in main after that static, would be destroyed before it (the address sanitizer names the use of
// the freed pool).

#include <cstdio>
#include <cstdlib>

#include "ControlBase/ConditionsParam.h"
#include "ControlBase/InputPayloads.h"
#include "ObjectBase/RCPtr.h"
#include "System/FrameworkGlobals.h"

namespace {

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "FAILED: %s\n", what);
        std::fflush(stderr);
        std::_Exit(3);
    }
}

// One payload of each pooled class made and dropped; each must reuse the one block of its pool.
void MakeEachPayloadOnce()
{
    {
        const Orv::RCPtr<Orv::LPointWithModifiersParam> move(
            new Orv::LPointWithModifiersParam(1, 2, 0, 0));
        const Orv::RCPtr<Orv::LMouseButtonParam> press(
            new Orv::LMouseButtonParam(1, 1, 2, 0, 0, 1, 0));
        const Orv::RCPtr<Orv::LMouseWheelParam> wheel(new Orv::LMouseWheelParam(1, 2, 0, 1));
        const Orv::RCPtr<Orv::LConditionsParam> conditions(new Orv::LConditionsParam());
    }
    Check(Orv::LPointWithModifiersParam::Pool().GetBlockCount() == 1 &&
              Orv::LPointWithModifiersParam::Pool().GetFreeCount() == 1,
          "a move's block went back to its pool");
    Check(Orv::LMouseButtonParam::Pool().GetBlockCount() == 1 &&
              Orv::LMouseButtonParam::Pool().GetFreeCount() == 1,
          "a press's block went back to its pool");
    Check(Orv::LMouseWheelParam::Pool().GetBlockCount() == 1 &&
              Orv::LMouseWheelParam::Pool().GetFreeCount() == 1,
          "a wheel step's block went back to its pool");
    Check(Orv::LConditionsParam::Pool().GetBlockCount() == 1 &&
              Orv::LConditionsParam::Pool().GetFreeCount() == 1,
          "a conditions payload's block went back to its pool");
}

struct LateUser
{
    LateUser() = default;
    LateUser(const LateUser&) = delete;
    LateUser& operator=(const LateUser&) = delete;
    ~LateUser()
    {
        Check(Orv::GetFrameworkGlobalsStage() == Orv::FrameworkGlobalsStage::Built,
              "a static built in main goes before the framework's globals");
        MakeEachPayloadOnce();
        std::printf("payload pools built before main outlive their users\n");
    }
};

}  // namespace

int main()
{
    static LateUser user;
    MakeEachPayloadOnce();
    return 0;
}
