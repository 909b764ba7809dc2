// libtiff message handling. libtiff reports through process-wide handlers;
// the tool keeps the first error and the first damage warning, so that a
// failure quotes the cause rather than its consequences, and sorts the
// warnings into damage and notes by where they arise and what they say.
#include "tiff_messages.h"

#include "tool_error.h"

#include <tiffio.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <set>

namespace tool::tiffmsg {
namespace {

struct State {
    std::string error, damage;
    std::vector<std::string> notes;
    std::set<std::string> shown;
    int decoding = 0;
};

State& state() {
    static State s;
    return s;
}

std::string format(const char* module, const char* fmt, va_list ap) {
    char buf[1024];
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    std::string text = buf;
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    // libtiff names its function or file as module; the message is what
    // users need, with the module only where it says which library spoke.
    if (module != nullptr && std::string(module) == "JPEGLib") text = "JPEG: " + text;
    return text;
}

bool contains(const std::string& text, const char* needle) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return lower.find(needle) != std::string::npos;
}

// Warnings that mean the pixel data are incomplete or damaged wherever
// they arise.
bool is_damage(const char* module, const std::string& text) {
    if (module != nullptr && (std::string(module) == "JPEGLib" || std::string(module).rfind("OJPEG", 0) == 0)) return true;
    for (const char* needle : {"corrupt", "premature end", "truncat", "(short", "not terminated", "bytecounts",
                               "stripoffsets", "tileoffsets", "read error", "not enough data", "damaged"})
        if (contains(text, needle)) return true;
    return false;
}

// Warnings raised while decoding that change nothing in the pixels.
bool is_harmless_while_decoding(const std::string& text) { return contains(text, "old-style lzw codes"); }

void on_error(const char* module, const char* fmt, va_list ap) {
    State& s = state();
    if (s.error.empty()) s.error = format(module, fmt, ap);
}

void on_warning(const char* module, const char* fmt, va_list ap) {
    State& s = state();
    const std::string text = format(module, fmt, ap);
    if (is_damage(module, text) || (s.decoding > 0 && !is_harmless_while_decoding(text))) {
        if (s.damage.empty()) s.damage = text;
    } else if (s.shown.insert(text).second) {
        s.notes.push_back(text);
    }
}

}  // namespace

void install() {
    static const bool done = [] {
        TIFFSetErrorHandler(on_error);
        TIFFSetWarningHandler(on_warning);
        return true;
    }();
    (void)done;
}

void clear() {
    State& s = state();
    s.error.clear();
    s.damage.clear();
    s.notes.clear();
}

Decoding::Decoding() { ++state().decoding; }
Decoding::~Decoding() { --state().decoding; }

std::string first_error() { return state().error; }

void raise_if_damaged(const std::string& where) {
    const State& s = state();
    if (!s.error.empty()) fail(where + ": " + s.error);
    if (!s.damage.empty()) fail(where + ": damaged image data: " + s.damage);
}

std::vector<std::string> take_notes() {
    std::vector<std::string> out;
    out.swap(state().notes);
    return out;
}

}  // namespace tool::tiffmsg
