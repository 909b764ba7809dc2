// The baseline level of the classification loops (16-byte vectors: SSE2 on
// x86-64, NEON on Arm) and the choice of level with the lookup kernels'.
#include "intensity/lookup_classify_loops.h"
#include "intensity/lookup_kernels.h"

namespace calmgr::classify {
namespace {

const Ops kBaseline = make_ops<16>();

}  // namespace

const Ops& baseline_ops() { return kBaseline; }

const Ops& active_ops() {
    const Ops* avx2 = avx2_ops();
    return avx2 != nullptr && kern::active().isa >= kern::Isa::avx2 ? *avx2 : kBaseline;
}

}  // namespace calmgr::classify
