// The marker serialiser. Like the reader it includes no Windows header: the native fuzzing tree
// builds it as it is and reads back everything it writes.

#include "marker/marker_writer.h"

#include "marker/fields.h"

#include <concepts>
#include <cstdint>

namespace watchdog {
namespace {

template <typename Record>
void write_record(std::string& out, const Record& record, MarkerForm form);

void write_value(std::string& out, bool value, MarkerForm) {
    out += value ? "true" : "false";
}

template <std::integral T> void write_value(std::string& out, T value, MarkerForm) {
    out += std::to_string(value);
}

void write_value(std::string& out, const std::string& value, MarkerForm) {
    out += json_string(value);
}

template <typename Record>
void write_value(std::string& out, const std::optional<Record>& value, MarkerForm form) {
    if (value) {
        write_record(out, *value, form);
    } else {
        out += "null";
    }
}

template <typename Element>
void write_value(std::string& out, const std::vector<Element>& elements, MarkerForm form) {
    out += '[';
    for (std::size_t i = 0; i < elements.size(); ++i) {
        out += i == 0 ? "" : ",";
        write_record(out, elements[i], form);
    }
    out += ']';
}

template <typename T> bool is_present(const T&) {
    return true;
}
template <typename T> bool is_present(const std::optional<T>& value) {
    return value.has_value();
}

// An absent record is left out of the object form, and written as null in the array form,
// where every field has its place.
template <typename Record>
void write_record(std::string& out, const Record& record, MarkerForm form) {
    const bool object = form == MarkerForm::object;
    out += object ? '{' : '[';
    bool first = true;
    for (const Field<Record>& field : Declaration<Record>::fields) {
        const auto present = [&record](auto member) {
            return is_present(record.*member);
        };
        if (object && !std::visit(present, field.member)) {
            continue;
        }
        out += first ? "" : ",";
        first = false;
        if (object) {
            out += json_string(field.key);
            out += ':';
        }
        std::visit([&](auto member) { write_value(out, record.*member, form); }, field.member);
    }
    out += object ? '}' : ']';
}

} // namespace

std::string serialize_marker(const RecoveryMarker& marker, MarkerForm form) {
    std::string out;
    write_record(out, marker, form);
    return out;
}

} // namespace watchdog
