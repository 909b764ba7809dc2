// What libtiff says while the tool reads and writes: its errors, the
// warnings that mean lost or damaged pixel data (corrupt compressed data,
// short strips), which fail the command, and harmless ones (an unknown
// private tag), which are passed on for showing once.
#pragma once

#include <string>
#include <vector>

namespace tool::tiffmsg {

// Installs the handlers (once per process). Every other function here
// assumes it was called.
void install();

// Forgets the messages so far: errors, damage and notes.
void clear();

// While a Decoding scope lives, every warning counts as damage (except a
// few known to be harmless): the pixels of a strip or tile are being
// decoded, and a warning there means they may be wrong.
class Decoding {
public:
    Decoding();
    ~Decoding();
    Decoding(const Decoding&) = delete;
    Decoding& operator=(const Decoding&) = delete;
};

// The first error libtiff reported since clear(), or "".
std::string first_error();

// Raises ToolError "<where>: <libtiff's message>" when libtiff reported an
// error or a data-loss warning since clear().
void raise_if_damaged(const std::string& where);

// The harmless warnings since the last call, each text at most once per
// process, and forgets them.
std::vector<std::string> take_notes();

}  // namespace tool::tiffmsg
