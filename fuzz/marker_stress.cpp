// Hostile markers too large for the fuzzer to come up with: deep nesting, megabytes of
// whitespace and text, broken UTF-8, lone surrogates and numbers hundreds of digits long, and
// reads that run out of memory. Each must get its exact answer, without a stack overflow and
// with bounded memory. Prints, for each case, the input size and the most heap the read held at
// once beyond what existed before it.

#include "marker/recovery_marker.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

// Every operator new of the program is counted, the reader's and Boost's included, and fails
// beyond the limit, which lets a case run out of memory on purpose.
std::size_t live_bytes = 0;
std::size_t peak_bytes = 0;
constexpr std::size_t no_limit = SIZE_MAX;
std::size_t heap_limit = no_limit;
constexpr std::size_t block_header = alignof(std::max_align_t);

void* counted_allocation(std::size_t size) {
    if (size > heap_limit - live_bytes) {
        throw std::bad_alloc();
    }
    auto* block = static_cast<unsigned char*>(std::malloc(size + block_header));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    std::memcpy(block, &size, sizeof size);
    live_bytes += size;
    peak_bytes = std::max(peak_bytes, live_bytes);
    return block + block_header;
}

void counted_release(void* pointer) noexcept {
    if (pointer == nullptr) {
        return;
    }
    unsigned char* block = static_cast<unsigned char*>(pointer) - block_header;
    std::size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    live_bytes -= size;
    std::free(block);
}

} // namespace

void* operator new(std::size_t size) {
    return counted_allocation(size);
}
void* operator new[](std::size_t size) {
    return counted_allocation(size);
}
void operator delete(void* pointer) noexcept {
    counted_release(pointer);
}
void operator delete[](void* pointer) noexcept {
    counted_release(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept {
    counted_release(pointer);
}
void operator delete[](void* pointer, std::size_t) noexcept {
    counted_release(pointer);
}

namespace {

constexpr std::size_t ten_megabytes = 10 * 1024 * 1024;
// The reader may copy a string value out of the input once; everything else it holds is small.
constexpr std::size_t heap_allowance_beyond_input = 1024 * 1024;

const std::string head = R"({"version":1,"sessionId":"s","x":)"; // 33 bytes
const std::string valid = R"({"version":1,"sessionId":"s"})";

std::string repeated(std::string_view piece, std::size_t count) {
    std::string out;
    out.reserve(piece.size() * count);
    for (std::size_t i = 0; i < count; ++i) {
        out += piece;
    }
    return out;
}

struct StressCase {
    const char* name;
    std::string input;
    std::string outcome;     // "accepted", or the description
    bool outcome_is_prefix;  // the position is the JSON parser's own choice
    std::size_t heap_budget; // for this read, beyond what exists before it
};

std::string outcome_of(const std::string& input) {
    const auto marker = watchdog::parse_recovery_marker(input);
    return marker ? std::string("accepted") : marker.error();
}

bool run(const StressCase& c) {
    const std::size_t before = live_bytes;
    peak_bytes = live_bytes;
    heap_limit = c.heap_budget == no_limit ? no_limit : before + c.heap_budget;
    const std::string outcome = outcome_of(c.input);
    heap_limit = no_limit;
    const std::size_t held = peak_bytes - before;
    const bool answered =
        c.outcome_is_prefix ? outcome.starts_with(c.outcome) : outcome == c.outcome;
    const bool bounded = held <= c.input.size() + heap_allowance_beyond_input;
    std::printf("%-52s %9zu bytes in %9zu bytes held  %s\n", c.name, c.input.size(), held,
                answered && bounded ? "ok" : "FAILED");
    if (!answered) {
        std::printf("    expected %s\n    got      %.300s\n", c.outcome.c_str(), outcome.c_str());
    }
    if (!bounded) {
        std::printf("    held more than the input plus %zu bytes\n", heap_allowance_beyond_input);
    }
    return answered && bounded;
}

} // namespace

int main() {
    const std::string digits(400, '7');
    const std::string shown_digits = std::string(64, '7') + "\xE2\x80\xA6"; // cut and marked
    const StressCase cases[] = {
        {"100000 nested arrays in an undefined key",
         head + std::string(100000, '[') + std::string(100000, ']') + "}",
         "too deep at line 1 column 161", false, no_limit},
        {"100000 nested objects in an undefined key",
         head + repeated(R"({"a":)", 100000) + "1" + std::string(100000, '}') + "}",
         "too deep at line 1 column 669", false, no_limit},
        {"100000 unclosed arrays", head + std::string(100000, '['), "too deep at line 1 column 161",
         false, no_limit},
        {"100000 arrays as the root", std::string(100000, '[') + std::string(100000, ']'),
         "invalid type: sequence, expected u32 at line 1 column 2", false, no_limit},
        {"10 MB of spaces", std::string(ten_megabytes, ' '),
         "incomplete JSON at line 1 column 10485761", false, no_limit},
        {"10 MB of line feeds", std::string(ten_megabytes, '\n'),
         "incomplete JSON at line 10485761 column 1", false, no_limit},
        {"marker inside 10 MB of whitespace",
         repeated(" \t\r\n", ten_megabytes / 8) + valid + repeated("\r\n\t ", ten_megabytes / 8),
         "accepted", false, no_limit},
        {"10 MB of line feeds, then text", valid + std::string(ten_megabytes, '\n') + "x",
         "trailing characters at line 10485761 column 1", false, no_limit},
        {"10 MB session id",
         R"({"version":1,"sessionId":")" + std::string(ten_megabytes, 's') + "\"}", "accepted",
         false, no_limit},
        {"10 MB string in an undefined key", head + "\"" + std::string(ten_megabytes, 'x') + "\"}",
         "accepted", false, no_limit},
        {"10 MB number in an undefined key", head + std::string(ten_megabytes, '9') + "}",
         "accepted", false, no_limit},
        {"invalid UTF-8: 0xFF in the session id",
         R"({"version":1,"sessionId":")"
         "\xFF\"}",
         "syntax error at line 1 column 27", false, no_limit},
        {"invalid UTF-8: overlong encoding in a key", "{\"version\":1,\"\xC0\xAF\":1}",
         "syntax error at line 1 column 15", false, no_limit},
        {"invalid UTF-8: encoded surrogate in a skipped value", head + "\"\xED\xA0\x80\"}",
         "syntax error at line 1 column 35", false, no_limit},
        {"invalid UTF-8: beyond U+10FFFF in a key", "{\"\xF4\x90\x80\x80\":1}",
         "syntax error at line 1 column 3", false, no_limit},
        {"invalid UTF-8: sequence cut by the quote",
         R"({"version":1,"sessionId":")"
         "\xE4\xB8\"}",
         "syntax error at line 1 column 27", false, no_limit},
        {"invalid UTF-8: continuation byte alone in a key", "{\"\x80\":1}",
         "syntax error at line 1 column 3", false, no_limit},
        {"lone high surrogate escape", R"({"version":1,"sessionId":"\ud800"})",
         "syntax error at line 1 column 33", false, no_limit},
        {"lone low surrogate escape", R"({"version":1,"sessionId":"\udc00"})",
         "illegal trailing surrogate at line 1 column 33", false, no_limit},
        {"two high surrogate escapes", R"({"version":1,"sessionId":"\ud800\ud800"})",
         "illegal trailing surrogate at line 1 column 35", false, no_limit},
        {"lone surrogate escape in a key", R"({"\udbff":1})", "syntax error at line 1 column 9",
         false, no_limit},
        {"400-digit version", R"({"sessionId":"s","version":)" + digits + "}",
         "invalid value: integer `" + shown_digits + "`, expected u32 at line 1 column 428", false,
         no_limit},
        {"400-digit negative hwnd",
         R"({"version":1,"sessionId":"s","taskbar":{"appbar_state":0,"windows":[[-)" + digits +
             "]]}}",
         "invalid value: integer `-" + shown_digits.substr(0, 63) +
             "\xE2\x80\xA6`, expected i64 at line 1 column 471",
         false, no_limit},
        {"400-digit fraction as version", R"({"sessionId":"s","version":0.)" + digits + "}",
         "invalid type: floating point `0." + shown_digits.substr(0, 62) +
             "\xE2\x80\xA6`, expected u32 at line 1 column 430",
         false, no_limit},
        {"400-digit integer and fraction in undefined keys",
         head + digits + R"(,"y":-)" + digits + "." + digits + "e-" + digits.substr(0, 3) + "}",
         "accepted", false, no_limit},
        {"400-digit exponent", head + "1e" + digits + "}", "exponent overflow at line 1 column ",
         true, no_limit},
        {"10 MB session id with 1 MB of heap",
         R"({"version":1,"sessionId":")" + std::string(ten_megabytes, 's') + "\"}",
         "out of memory at line 1 column 10485787", false, 1024 * 1024},
        {"no heap at all", valid, "out of memory", false, 0},
    };
    bool all_passed = true;
    for (const StressCase& c : cases) {
        all_passed = run(c) && all_passed;
    }
    return all_passed ? EXIT_SUCCESS : EXIT_FAILURE;
}
