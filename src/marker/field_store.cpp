#include "marker/field_store.h"

#include "marker/descriptions.h"

#include <concepts>
#include <type_traits>
#include <utility>

namespace watchdog {
namespace {

StoreResult field_complete() {
    return std::optional<Frame>{};
}

StoreResult frame_opened(Frame frame) {
    return std::optional<Frame>{std::move(frame)};
}

StoreResult store_failed(std::string description) {
    return std::unexpected(std::move(description));
}

template <typename Record> std::optional<std::size_t> field_index(std::string_view key) {
    for (std::size_t i = 0; i < field_count<Record>; ++i) {
        if (Declaration<Record>::fields[i].key == key) {
            return i;
        }
    }
    return std::nullopt;
}

template <typename Record> StoreResult store_record(Record& target, const ParsedValue& value) {
    if (!opens_container(value)) {
        return store_failed(invalid_type(value, record_expectation<Record>()));
    }
    RecordFrame<Record> frame;
    frame.record = &target;
    frame.array_form = value.kind == JsonKind::sequence;
    return frame_opened(std::move(frame));
}

template <typename T> std::optional<T> narrowed(const IntegerValue& value) {
    return std::visit(
        [](auto number) -> std::optional<T> {
            if constexpr (std::is_same_v<decltype(number), std::monostate>) {
                return std::nullopt;
            } else {
                if (!std::in_range<T>(number)) {
                    return std::nullopt;
                }
                return static_cast<T>(number);
            }
        },
        value);
}

// The integer fields; bool is integral too, but takes only true and false.
template <typename T>
concept MarkerInteger = std::integral<T> && !std::same_as<T, bool>;

template <MarkerInteger T> StoreResult store_value(T& target, const ParsedValue& value) {
    constexpr std::string_view expectation = integer_expectation(std::type_identity<T>{});
    if (value.kind != JsonKind::integer) {
        return store_failed(invalid_type(value, expectation));
    }
    const std::optional<T> number = narrowed<T>(value.integer);
    if (!number) {
        return store_failed(invalid_value(value, expectation));
    }
    target = *number;
    return field_complete();
}

StoreResult store_value(bool& target, const ParsedValue& value) {
    if (value.kind != JsonKind::boolean) {
        return store_failed(invalid_type(value, "a boolean"));
    }
    target = value.boolean;
    return field_complete();
}

StoreResult store_value(std::string& target, const ParsedValue& value) {
    if (value.kind != JsonKind::string) {
        return store_failed(invalid_type(value, "a string"));
    }
    target.assign(value.text);
    return field_complete();
}

// null stands for an absent record.
template <typename Record>
StoreResult store_value(std::optional<Record>& target, const ParsedValue& value) {
    if (value.kind == JsonKind::null) {
        target.reset();
        return field_complete();
    }
    return store_record(target.emplace(), value);
}

template <typename Element>
StoreResult store_value(std::vector<Element>& target, const ParsedValue& value) {
    if (value.kind != JsonKind::sequence) {
        return store_failed(invalid_type(value, "a sequence"));
    }
    SequenceFrame<Element> frame;
    frame.elements = &target;
    return frame_opened(std::move(frame));
}

template <typename Record>
StoreResult store_next_value(RecordFrame<Record>& frame, const ParsedValue& value) {
    const std::size_t index = frame.field;
    if (frame.array_form) {
        if (index == field_count<Record>) {
            // more elements than the record has fields
            return store_failed(std::string(trailing_characters));
        }
        ++frame.field;
    }
    return std::visit([&](auto member) { return store_value(frame.record->*member, value); },
                      Declaration<Record>::fields[index].member);
}

template <typename Element>
StoreResult store_next_value(SequenceFrame<Element>& frame, const ParsedValue& value) {
    return store_record(frame.elements->emplace_back(), value);
}

template <typename Record>
std::expected<bool, std::string> accept_record_key(RecordFrame<Record>& frame,
                                                   std::string_view key) {
    const std::optional<std::size_t> index = field_index<Record>(key);
    if (!index) {
        return false;
    }
    // The key itself is the occurrence, so a first null counts as one.
    if (frame.seen[*index]) {
        return std::unexpected(duplicate_field(key));
    }
    frame.seen.set(*index);
    frame.field = *index;
    return true;
}

// Keys only occur inside objects, and an object is always a record here.
template <typename Element>
std::expected<bool, std::string> accept_record_key(SequenceFrame<Element>&, std::string_view) {
    return false;
}

template <typename Record>
std::optional<std::string> record_problem_at_close(const RecordFrame<Record>& frame) {
    if (frame.array_form) {
        if (frame.field < field_count<Record>) {
            return invalid_length(frame.field, length_expectation<Record>());
        }
        return std::nullopt;
    }
    for (std::size_t i = 0; i < field_count<Record>; ++i) {
        const Field<Record>& field = Declaration<Record>::fields[i];
        if (!frame.seen[i] && is_required(field)) {
            return missing_field(field.key);
        }
    }
    return std::nullopt;
}

template <typename Element>
std::optional<std::string> record_problem_at_close(const SequenceFrame<Element>&) {
    return std::nullopt;
}

} // namespace

StoreResult store_root(RecoveryMarker& marker, const ParsedValue& value) {
    return store_record(marker, value);
}

StoreResult store_in_frame(Frame& frame, const ParsedValue& value) {
    return std::visit([&value](auto& inner) { return store_next_value(inner, value); }, frame);
}

std::expected<bool, std::string> accept_key(Frame& frame, std::string_view key) {
    return std::visit([key](auto& inner) { return accept_record_key(inner, key); }, frame);
}

std::optional<std::string> problem_at_close(const Frame& frame) {
    return std::visit([](const auto& inner) { return record_problem_at_close(inner); }, frame);
}

} // namespace watchdog
