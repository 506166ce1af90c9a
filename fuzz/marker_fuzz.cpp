// libFuzzer target: every input gets a record or a description that points into the input,
// reading the same bytes twice gives the same answer, and an accepted marker reads back
// unchanged after being written out in object form and in array form.

#include "marker/marker_writer.h"
#include "marker/recovery_marker.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "marker_fuzz: %s\n  %s\n", what, detail.c_str());
    std::abort();
}

std::string outcome(const std::expected<watchdog::RecoveryMarker, std::string>& read) {
    return read ? std::string("a record") : read.error();
}

std::optional<std::size_t> number_at_end(std::string_view text) {
    std::size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The offset that a description's " at line L column C" names, when it names a byte of the
// input or the position one past its end.
std::optional<std::size_t> named_offset(std::string_view description, std::string_view bytes) {
    const std::size_t at = description.rfind(" at line ");
    const std::size_t column_at = description.rfind(" column ");
    if (at == std::string_view::npos || column_at == std::string_view::npos || column_at < at) {
        return std::nullopt;
    }
    const auto line = number_at_end(description.substr(at + 9, column_at - at - 9));
    const auto column = number_at_end(description.substr(column_at + 8));
    if (!line || !column || *line == 0 || *column == 0) {
        return std::nullopt;
    }
    std::size_t line_start = 0;
    for (std::size_t l = 1; l < *line; ++l) {
        const std::size_t feed = bytes.find('\n', line_start);
        if (feed == std::string_view::npos) {
            return std::nullopt;
        }
        line_start = feed + 1;
    }
    const std::size_t offset = line_start + *column - 1;
    const bool inside_the_line =
        bytes.substr(line_start, offset - line_start).find('\n') == std::string_view::npos;
    if (offset > bytes.size() || !inside_the_line) {
        return std::nullopt;
    }
    return offset;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto first = watchdog::parse_recovery_marker(bytes);
    const auto second = watchdog::parse_recovery_marker(bytes);
    if (first != second) {
        fail("two reads of the same bytes differ", outcome(first) + " / " + outcome(second));
    }
    if (!first) {
        if (first.error() != "out of memory" && !named_offset(first.error(), bytes)) {
            fail("description without a position in the input", first.error());
        }
        return 0;
    }
    using watchdog::MarkerForm;
    for (const std::string& written : {watchdog::serialize_marker(*first, MarkerForm::object),
                                       watchdog::serialize_marker(*first, MarkerForm::array)}) {
        const auto again = watchdog::parse_recovery_marker(written);
        if (!again || *again != *first) {
            fail("accepted marker changed after being written back",
                 written + (again ? std::string() : "\n  " + again.error()));
        }
    }
    return 0;
}
