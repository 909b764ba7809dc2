// Opening libtiff handles over files and memory with client procedures.
#include "tiff_handle.h"

#include "file_kind.h"
#include "tiff_messages.h"
#include "tool_error.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace tool {
namespace {

// A read-only view of bytes in memory.
struct MemorySource {
    const uint8_t* data;
    uint64_t size, pos = 0;
};

tmsize_t mem_read(thandle_t h, void* buf, tmsize_t n) {
    auto* m = static_cast<MemorySource*>(h);
    if (n <= 0 || m->pos >= m->size) return 0;
    const uint64_t k = std::min<uint64_t>(static_cast<uint64_t>(n), m->size - m->pos);
    std::memcpy(buf, m->data + m->pos, static_cast<size_t>(k));
    m->pos += k;
    return static_cast<tmsize_t>(k);
}
tmsize_t mem_write(thandle_t, void*, tmsize_t) { return -1; }
toff_t mem_seek(thandle_t h, toff_t off, int whence) {
    auto* m = static_cast<MemorySource*>(h);
    const uint64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->pos : m->size;
    if (off > UINT64_MAX / 2 || base > UINT64_MAX / 2) return static_cast<toff_t>(-1);
    m->pos = base + off;
    return m->pos;
}
int mem_close(thandle_t h) {
    delete static_cast<MemorySource*>(h);
    return 0;
}
toff_t mem_size(thandle_t h) { return static_cast<MemorySource*>(h)->size; }
int no_map(thandle_t, void**, toff_t*) { return 0; }
void no_unmap(thandle_t, void*, toff_t) {}
int sink_close(thandle_t) { return 0; }

}  // namespace

TiffPtr open_tiff_file(const std::string& path) {
    tiffmsg::install();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) fail(path + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) fail(path + " is " + file_kind(st.st_mode) + ", not an image file");
    tiffmsg::clear();
    // "m": read, not map, so that a file shrinking under us gives an error
    // rather than a bus error.
    TiffPtr tif(TIFFOpen(path.c_str(), "rm"));
    if (!tif) {
        const std::string why = tiffmsg::first_error();
        fail(path + ": cannot read as TIFF" + (why.empty() ? "" : ": " + why));
    }
    return tif;
}

TiffPtr open_tiff_memory(const uint8_t* data, size_t size, const std::string& name, size_t max_alloc) {
    tiffmsg::install();
    tiffmsg::clear();
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    if (opts == nullptr) throw std::bad_alloc();
    if (max_alloc != 0) TIFFOpenOptionsSetMaxSingleMemAlloc(opts, static_cast<tmsize_t>(max_alloc));
    // The handle owns the source once open (its close procedure frees it);
    // a failed open leaves it to us.
    auto src = std::make_unique<MemorySource>(MemorySource{data, size});
    TiffPtr tif(TIFFClientOpenExt(name.c_str(), "rm", src.get(), mem_read, mem_write, mem_seek, mem_close, mem_size,
                                  no_map, no_unmap, opts));
    TIFFOpenOptionsFree(opts);
    if (tif) src.release();
    if (!tif) {
        const std::string why = tiffmsg::first_error();
        fail(name + ": cannot read as TIFF" + (why.empty() ? "" : ": " + why));
    }
    return tif;
}

tmsize_t TiffSink::read(thandle_t h, void* buf, tmsize_t n) {
    auto* s = static_cast<TiffSink*>(h);
    if (n <= 0) return 0;
    if (s->fd_ >= 0) {
        const ssize_t k = ::pread(s->fd_, buf, static_cast<size_t>(n), static_cast<off_t>(s->pos_));
        if (k < 0) return -1;
        s->pos_ += static_cast<uint64_t>(k);
        return k;
    }
    if (s->pos_ >= s->mem_.size()) return 0;
    const size_t k = std::min<size_t>(static_cast<size_t>(n), s->mem_.size() - static_cast<size_t>(s->pos_));
    std::memcpy(buf, s->mem_.data() + s->pos_, k);
    s->pos_ += k;
    return static_cast<tmsize_t>(k);
}

tmsize_t TiffSink::write(thandle_t h, void* buf, tmsize_t n) {
    auto* s = static_cast<TiffSink*>(h);
    if (n <= 0) return 0;
    if (s->fd_ >= 0) {
        size_t done = 0;
        while (done < static_cast<size_t>(n)) {
            const ssize_t k = ::pwrite(s->fd_, static_cast<const char*>(buf) + done, static_cast<size_t>(n) - done,
                                       static_cast<off_t>(s->pos_ + done));
            if (k < 0 && errno == EINTR) continue;
            if (k <= 0) {
                if (s->error_ == 0) s->error_ = k < 0 ? errno : ENOSPC;
                return -1;
            }
            done += static_cast<size_t>(k);
        }
        s->pos_ += done;
        return n;
    }
    const size_t end = static_cast<size_t>(s->pos_) + static_cast<size_t>(n);
    if (end > s->mem_.size()) s->mem_.resize(end);
    std::memcpy(s->mem_.data() + s->pos_, buf, static_cast<size_t>(n));
    s->pos_ = end;
    return n;
}

toff_t TiffSink::seek(thandle_t h, toff_t off, int whence) {
    auto* s = static_cast<TiffSink*>(h);
    uint64_t base = 0;
    if (whence == SEEK_CUR) base = s->pos_;
    else if (whence == SEEK_END) base = size(h);
    if (off > static_cast<toff_t>(INT64_MAX) - base) return static_cast<toff_t>(-1);
    s->pos_ = base + off;
    return s->pos_;
}

toff_t TiffSink::size(thandle_t h) {
    auto* s = static_cast<TiffSink*>(h);
    if (s->fd_ < 0) return s->mem_.size();
    struct stat st {};
    return ::fstat(s->fd_, &st) == 0 ? static_cast<toff_t>(st.st_size) : 0;
}

TiffPtr open_tiff_writer(TiffSink& sink, const std::string& name, bool bigtiff) {
    tiffmsg::install();
    TiffPtr tif(TIFFClientOpen(name.c_str(), bigtiff ? "w8" : "w", &sink, TiffSink::read, TiffSink::write,
                               TiffSink::seek, sink_close, TiffSink::size, no_map, no_unmap));
    if (!tif) {
        const std::string why = sink.error() != 0 ? std::strerror(sink.error()) : tiffmsg::first_error();
        fail("cannot write " + name + (why.empty() ? "" : ": " + why));
    }
    return tif;
}

}  // namespace tool
