// The engine's heap, its diagnostic sink, its 1-based work arrays and the
// power basis. The work arrays come from the process heap rather than the
// image library's allocator; the heap is replaceable so tests can refuse a
// chosen request.
#include "fit/lsq.h"

#include <cstdlib>

namespace calmgr {

namespace {

FitAllocFn heap_alloc = std::malloc;
FitFreeFn heap_free = std::free;
FitErrorObserver error_observer = nullptr;

// Number of elements lo..hi plus the spare in front, or 0 when hi < lo - 1.
// Only lower bounds 0 and 1 are accepted: with them the offset base pointer
// stays inside its block.
std::size_t block_count(int32_t lo, int32_t hi) {
    if (lo != 0 && lo != 1) return 0;
    const int64_t count = static_cast<int64_t>(hi) - lo + 2;
    return count >= 1 ? static_cast<std::size_t>(count) : 0;
}

template <class T>
T* heap_block(std::size_t count) {
    if (count == 0 || count > SIZE_MAX / sizeof(T)) return nullptr;
    return static_cast<T*>(heap_alloc(count * sizeof(T)));
}

}  // namespace

void set_fit_heap(FitAllocFn alloc_fn, FitFreeFn free_fn) {
    heap_alloc = alloc_fn != nullptr ? alloc_fn : std::malloc;
    heap_free = free_fn != nullptr ? free_fn : std::free;
}

void set_fit_error_observer(FitErrorObserver observer) { error_observer = observer; }

void fit_error(const char* message) {
    if (error_observer != nullptr) error_observer(message);
}

double* rvector(int32_t lo, int32_t hi) {
    double* block = heap_block<double>(block_count(lo, hi));
    return block != nullptr ? block + 1 - lo : nullptr;
}

void rvector_release(double* vector, int32_t lo, int32_t /*hi*/) {
    if (vector != nullptr) heap_free(vector + lo - 1);
}

int32_t* ivector(int32_t lo, int32_t hi) {
    const std::size_t count = block_count(lo, hi);
    int32_t* block = heap_block<int32_t>(count);
    if (block == nullptr) {
        if (count != 0) fit_error("allocation failure in ivector()");
        return nullptr;
    }
    return block + 1 - lo;
}

void ivector_release(int32_t* vector, int32_t lo, int32_t /*hi*/) {
    if (vector != nullptr) heap_free(vector + lo - 1);
}

double** rmatrix(int32_t row_lo, int32_t row_hi, int32_t col_lo, int32_t col_hi) {
    const std::size_t row_slots = block_count(row_lo, row_hi);
    const std::size_t col_slots = block_count(col_lo, col_hi);
    if (row_slots == 0 || col_slots == 0) return nullptr;
    const std::size_t rows = row_slots - 1;
    const std::size_t cols = col_slots - 1;
    if (cols != 0 && rows > (SIZE_MAX - 1) / cols) return nullptr;

    double** row_block = heap_block<double*>(row_slots);
    if (row_block == nullptr) return nullptr;
    double* elements = heap_block<double>(rows * cols + 1);
    if (elements == nullptr) {
        heap_free(row_block);
        return nullptr;
    }
    // The slot in front of row_lo keeps the element block's address, so the
    // release finds it also for a matrix without rows.
    row_block[0] = elements;
    double** matrix = row_block + 1 - row_lo;
    // Element (row_lo, col_lo) is the block's second element; each row
    // follows the previous one.
    for (std::size_t r = 0; r < rows; ++r) matrix[row_lo + static_cast<int32_t>(r)] = elements + 1 + r * cols - col_lo;
    return matrix;
}

void rmatrix_release(double** matrix, int32_t row_lo, int32_t /*row_hi*/, int32_t /*col_lo*/, int32_t /*col_hi*/) {
    if (matrix == nullptr) return;
    heap_free(matrix[row_lo - 1]);
    heap_free(matrix + row_lo - 1);
}

void power_basis(double x, double* values, int32_t n) {
    values[1] = 1.0;
    for (int32_t j = 2; j <= n; ++j) values[j] = values[j - 1] * x;
}

}  // namespace calmgr
