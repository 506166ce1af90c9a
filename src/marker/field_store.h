#pragma once

// Storing parsed values into the marker's records by their field declaration (fields.h): the
// object form, the array form, the missing-field check and the type and range of every field.
// The parser adapter keeps a stack of frames, the containers being filled, innermost last, and
// hands each parse event to the frame on top.

#include "marker/fields.h"
#include "marker/parsed_value.h"

#include <bitset>
#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace watchdog {

template <typename Record> struct RecordFrame {
    Record* record = nullptr;
    bool array_form = false;
    // Array form: the field of the next element, and so the count of elements begun.
    // Object form: the field of the key just read.
    std::size_t field = 0;
    std::bitset<field_count<Record>> seen; // object form: the defined keys met so far
};

template <typename Element> struct SequenceFrame { std::vector<Element>* elements = nullptr; };

using Frame =
    std::variant<RecordFrame<RecoveryMarker>, RecordFrame<DesktopIconRecovery>,
                 RecordFrame<TaskbarRecoverySnapshot>, RecordFrame<TaskbarWindowRecoveryState>,
                 SequenceFrame<TaskbarWindowRecoveryState>>;

// Storing a value into its field either completes the field, or opens a container (a frame)
// that the following parse events fill, or fails with a description.
using StoreResult = std::expected<std::optional<Frame>, std::string>;

// The document's root value.
StoreResult store_root(RecoveryMarker& marker, const ParsedValue& value);

// A value inside the frame: of the field that the key just read names, in array form of the
// next field, in a sequence its next element.
StoreResult store_in_frame(Frame& frame, const ParsedValue& value);

// Whether the frame's record defines the key: its value is then stored, otherwise skipped.
// Fails on a defined key met a second time.
std::expected<bool, std::string> accept_key(Frame& frame, std::string_view key);

// What is wrong with the frame when its container closes: a missing field or a short array.
std::optional<std::string> problem_at_close(const Frame& frame);

} // namespace watchdog
