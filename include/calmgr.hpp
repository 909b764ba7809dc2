/*
 * calmgr.hpp - header-only C++17 layer over the C interface of calmgr.
 *
 * Owning, move-only wrappers for intensity and spatial calibrations, typed
 * accessors for every control, lookups over contiguous buffers and the
 * polynomial fits. Every number comes from the C functions unchanged; this
 * layer only checks buffer sizes, splits runs that exceed the C interface's
 * counts, and turns every status other than CAL_OK into calmgr::Error.
 *
 * Buffers are passed as calmgr::Span<T>, a minimal view (pointer and
 * length) that converts implicitly from std::vector, std::array, C arrays
 * and, under C++20, std::span - anything with data() and size() of a
 * matching element type. It exists because std::span needs C++20 and this
 * header must also compile as C++17.
 *
 * Like the library itself, the wrappers take no locks: serialise calls.
 */
#ifndef CALMGR_HPP
#define CALMGR_HPP

#include "calmgr/core.hpp"
#include "calmgr/fit.hpp"
#include "calmgr/intensity.hpp"
#include "calmgr/spatial.hpp"

#endif /* CALMGR_HPP */
