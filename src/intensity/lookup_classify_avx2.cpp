// The classification loops on 32-byte vectors, compiled for AVX2 (no FMA;
// the loops compare and select, they do not compute) and used only where
// the lookup kernels run at that level.
#include "intensity/lookup_classify_loops.h"

namespace calmgr::classify {

#if defined(__AVX2__)
namespace {
const Ops kAvx2 = make_ops<32>();
}  // namespace

const Ops* avx2_ops() { return &kAvx2; }
#else
const Ops* avx2_ops() { return nullptr; }
#endif

}  // namespace calmgr::classify
