// The one place where the framework's payload pools are listed. The framework's globals build
// them before main in this order, each pool under its own critical section:
//
//   LConditionsParam (4), LMenuActivationParam (4), LMouseButtonParam (32), LMouseWheelParam (4),
//   LPointWithModifiersParam (32), LValueParam (4), then the rectangle region's node pool.
//
// A payload class joins the list at its place in that order when it is added to the framework
// (with its header included here and its library added to OrvGlobals). Until then it is left out:
// a pool not built here is still built on first use, only later. The payload headers are whole in
// themselves, so OrvGlobals takes only the libraries of what they include, not the control base.
#include "ControlBase/ConditionsParam.h"
#include "ControlBase/InputPayloads.h"
#include "ControlBase/RectNodePool.h"
#include "System/PayloadPools.h"

namespace Orv {

namespace {

// The region's node pool is not a PooledPayload: this entry gives it the Pool() the list calls.
struct RectRegionNodes
{
    static RectNodePool& Pool() { return RectNodePool::GetProcessPool(); }
};

using FrameworkPayloadPools = PayloadPoolList<LConditionsParam, LMouseButtonParam, LMouseWheelParam,
                                              LPointWithModifiersParam, RectRegionNodes>;

}  // namespace

void BuildFrameworkPayloadPools()
{
    FrameworkPayloadPools::Build();
}

}  // namespace Orv
