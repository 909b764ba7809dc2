/*
 * calmgr/inverse.hpp - calibrated values back to input values (ICalInverse),
 * with the values no single input reaches left visible: NaN in their place
 * and their count beside the inputs.
 * Part of the header-only C++ layer; include <calmgr.hpp>.
 */
#ifndef CALMGR_INVERSE_HPP
#define CALMGR_INVERSE_HPP

#include "calmgr/types.hpp"

namespace calmgr {

/* The inputs of a returning inverse lookup: NaN where a value is
 * unresolved, and how many are. */
struct InverseResult {
    std::vector<double> inputs;
    std::size_t unresolved = 0;

    [[nodiscard]] bool all_resolved() const noexcept { return unresolved == 0; }
};

/* For each calibrated value, the input in [range_min, range_max] whose
 * lookup of a double sample gives it. A value is unresolved (its input is
 * NaN) when no input reaches it (outside the values the table takes, NaN)
 * or more than one does (the table turns or holds it along a flat run);
 * without a usable calibration every value is. inputs.size() must equal
 * values.size(); inputs may view the same memory as values. Returns the
 * number of unresolved values. */
inline std::size_t inverse(const IntensityCal* cal, Span<const double> values, Span<double> inputs) {
    detail::require(inputs.size() == values.size(), "inverse: output size differs from input size");
    uint64_t unresolved = 0;
    detail::check(ICalInverse(cal, values.data(), values.size(), inputs.data(), &unresolved), "ICalInverse");
    return static_cast<std::size_t>(unresolved);
}

}  // namespace calmgr

#endif /* CALMGR_INVERSE_HPP */
