// libFuzzer target: records made from the input, every value anywhere in its range and session
// ids of any well-formed UTF-8 (quotes, backslashes, control characters and all), written in
// both forms by the marker's serialiser, must read back to the very same records.

#include "marker/marker_writer.h"
#include "marker/recovery_marker.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using watchdog::DesktopIconRecovery;
using watchdog::RecoveryMarker;
using watchdog::TaskbarRecoverySnapshot;
using watchdog::TaskbarWindowRecoveryState;

// A code point other than a surrogate, encoded as UTF-8: the reader takes nothing else.
void append_code_point(std::string& out, std::uint32_t point) {
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | (point >> 6));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        out += static_cast<char>(0xE0 | (point >> 12));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (point >> 18));
        out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

std::string session_id(FuzzedDataProvider& data) {
    std::string text;
    const auto length = data.ConsumeIntegralInRange<std::size_t>(0, 40);
    for (std::size_t i = 0; i < length; ++i) {
        // Mostly ASCII, control characters and quotes included, now and then anything beyond.
        std::uint32_t point = data.ConsumeBool()
                                  ? data.ConsumeIntegralInRange<std::uint32_t>(0, 0x7F)
                                  : data.ConsumeIntegralInRange<std::uint32_t>(0, 0x10FFFF);
        if (point >= 0xD800 && point <= 0xDFFF) {
            point = 0xFFFD;
        }
        append_code_point(text, point);
    }
    return text;
}

TaskbarWindowRecoveryState window(FuzzedDataProvider& data) {
    return {data.ConsumeIntegral<std::int64_t>(),  data.ConsumeIntegral<std::int32_t>(),
            data.ConsumeIntegral<std::uint32_t>(), data.ConsumeIntegral<std::uint8_t>(),
            data.ConsumeIntegral<std::uint32_t>(), data.ConsumeBool()};
}

RecoveryMarker marker(FuzzedDataProvider& data) {
    RecoveryMarker made{data.ConsumeIntegral<std::uint32_t>(), session_id(data), {}, {}};
    if (data.ConsumeBool()) {
        made.desktopIcons = DesktopIconRecovery{data.ConsumeBool()};
    }
    if (data.ConsumeBool()) {
        TaskbarRecoverySnapshot taskbar{data.ConsumeIntegral<std::uint32_t>(), {}};
        const auto count = data.ConsumeIntegralInRange<std::size_t>(0, 8);
        for (std::size_t i = 0; i < count; ++i) {
            taskbar.windows.push_back(window(data));
        }
        made.taskbar = std::move(taskbar);
    }
    return made;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const RecoveryMarker made = marker(data);
    using watchdog::MarkerForm;
    for (const MarkerForm form : {MarkerForm::object, MarkerForm::array}) {
        const std::string written = watchdog::serialize_marker(made, form);
        const auto read = watchdog::parse_recovery_marker(written);
        if (!read || *read != made) {
            std::fprintf(
                stderr, "marker_round_trip_fuzz: written marker reads back otherwise\n  %s\n  %s\n",
                written.c_str(), read ? "other records" : read.error().c_str());
            std::abort();
        }
    }
    return 0;
}
