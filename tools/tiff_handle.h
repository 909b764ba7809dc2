// libtiff handles the tool opens, all closed by one closer: images read
// from a file or from bytes in memory, and images written to a file
// descriptor or into memory through a sink that remembers why a write
// failed (so that a full disk is reported as such, not as "Write error").
#pragma once

#include <tiffio.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tool {

struct TiffCloser {
    void operator()(TIFF* t) const noexcept { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

// Opens an image file for reading. Refuses, naming the file: a path that
// is not a regular file (a FIFO would block, a directory has no image) and
// anything libtiff cannot open as TIFF.
TiffPtr open_tiff_file(const std::string& path);

// Opens TIFF bytes in memory for reading; data must outlive the handle.
// max_alloc (0: no limit) caps any single allocation libtiff makes.
TiffPtr open_tiff_memory(const uint8_t* data, size_t size, const std::string& name, size_t max_alloc = 0);

// Where a written TIFF goes: a file descriptor the caller owns, or a
// growing buffer.
class TiffSink {
public:
    explicit TiffSink(int fd) : fd_(fd) {}
    TiffSink() = default;  // into memory

    // errno of the first failed write or seek, 0 if none.
    int error() const { return error_; }
    const std::vector<uint8_t>& bytes() const { return mem_; }

    // libtiff's client procedures.
    static tmsize_t read(thandle_t h, void* buf, tmsize_t n);
    static tmsize_t write(thandle_t h, void* buf, tmsize_t n);
    static toff_t seek(thandle_t h, toff_t off, int whence);
    static toff_t size(thandle_t h);

private:
    int fd_ = -1;
    int error_ = 0;
    std::vector<uint8_t> mem_;
    uint64_t pos_ = 0;
};

// Opens a new TIFF (BigTIFF when asked) on the sink for writing.
TiffPtr open_tiff_writer(TiffSink& sink, const std::string& name, bool bigtiff);

}  // namespace tool
