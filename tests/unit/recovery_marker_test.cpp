#include "marker/recovery_marker.h"

#include <boost/version.hpp>
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

// Positions in the expected descriptions: lines count from 1, only a line feed starts a line,
// and the column is the 1-based byte column of the first byte that the reader had not taken in
// when it stopped, or one past the end when the input ran out. So a problem with a key or a
// string points at its closing quote, with a number just behind it, with an object, array,
// true, false or null at its first byte, and a missing field or a short array at the closing
// bracket.

namespace watchdog {

// Readable failure output instead of gtest's byte dump.
void PrintTo(const RecoveryMarker& marker, std::ostream* out) {
    *out << "{version " << marker.version << ", sessionId \"" << marker.sessionId << '"';
    if (marker.desktopIcons) {
        *out << ", originalVisible " << marker.desktopIcons->originalVisible;
    }
    if (marker.taskbar) {
        *out << ", appbar_state " << marker.taskbar->appbar_state << ", windows [";
        for (const TaskbarWindowRecoveryState& window : marker.taskbar->windows) {
            *out << '[' << window.hwnd << ' ' << window.ex_style << ' ' << window.layered_color
                 << ' ' << +window.layered_alpha << ' ' << window.layered_flags << ' '
                 << window.had_layered_attributes << ']';
        }
        *out << ']';
    }
    *out << '}';
}

namespace {

using namespace std::string_view_literals;

struct ExampleFile {
    std::string_view name;
    std::string_view bytes;
};

// docs/examples, compiled in by tests/marker_examples.cmake.
constexpr ExampleFile example_files[] = {
#include "marker_examples.inc"
};

std::string_view example(std::string_view name) {
    for (const ExampleFile& file : example_files) {
        if (file.name == name) {
            return file.bytes;
        }
    }
    ADD_FAILURE() << "no example file " << name;
    return {};
}

// "accepted", or the description of the rejection.
std::string outcome_of(std::string_view bytes) {
    const auto marker = parse_recovery_marker(bytes);
    return marker ? std::string("accepted") : marker.error();
}

// Where the JSON reader has the last word (the wording of a syntax error, whether a number
// beyond a double's range is one), a later Boost may answer otherwise: from that version on.
struct LaterBoost {
    unsigned since = 0; // as BOOST_VERSION counts: 108300 is 1.83
    std::string_view outcome;
};

struct Case {
    std::string_view behaviour;
    std::string_view document;
    std::string_view outcome; // "accepted" or the whole description
    LaterBoost later = {};
};

std::string_view expected_outcome(const Case& c) {
    return c.later.since != 0 && BOOST_VERSION >= c.later.since ? c.later.outcome : c.outcome;
}

void expect_outcomes(std::span<const Case> cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.behaviour) + "\n  " + std::string(c.document));
        EXPECT_EQ(outcome_of(c.document), expected_outcome(c));
    }
}

RecoveryMarker neither_item(std::string session_id) {
    RecoveryMarker marker;
    marker.version = 1;
    marker.sessionId = std::move(session_id);
    return marker;
}

RecoveryMarker both_items_example() {
    RecoveryMarker marker = neither_item("demo-session-1");
    marker.desktopIcons = DesktopIconRecovery{true};
    marker.taskbar = TaskbarRecoverySnapshot{2, {{65852, 136, 0, 255, 2, false}}};
    return marker;
}

RecoveryMarker two_taskbars_example() {
    RecoveryMarker marker = neither_item("7f3c9e2a-session");
    marker.desktopIcons = DesktopIconRecovery{false};
    marker.taskbar = TaskbarRecoverySnapshot{1,
                                             {
                                                 {131338, -2013265752, 0, 200, 2, true},
                                                 {-4294770688, 136, 16711935, 0, 1, false},
                                             }};
    return marker;
}

// ---------------------------------------------------------------------------------------------
// The example markers of the documentation.

TEST(RecoveryMarkerExamples, ValidExamplesGiveEveryRecordedField) {
    const struct {
        std::string_view file;
        RecoveryMarker marker;
    } cases[] = {
        {"valid-both-items.json", both_items_example()},
        {"valid-neither-item.json", neither_item("demo-session-1")},
        {"valid-items-null.json", neither_item("demo-session-1")},
        {"valid-two-taskbars.json", two_taskbars_example()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const auto parsed = parse_recovery_marker(example(c.file));
        if (!parsed) {
            ADD_FAILURE() << parsed.error();
            continue;
        }
        EXPECT_EQ(*parsed, c.marker);
    }
}

TEST(RecoveryMarkerExamples, ArrayFormExampleEqualsObjectForm) {
    const auto parsed = parse_recovery_marker(R"([1, "demo-session-1", null, null])");
    ASSERT_TRUE(parsed.has_value()) << parsed.error();
    EXPECT_EQ(*parsed, neither_item("demo-session-1"));

    const auto nested = parse_recovery_marker(
        R"([1, "demo-session-1", [true], [2, [[65852, 136, 0, 255, 2, false]]]])");
    ASSERT_TRUE(nested.has_value()) << nested.error();
    EXPECT_EQ(*nested, both_items_example());
}

TEST(RecoveryMarkerExamples, InvalidExamplesGiveTheirDescriptions) {
    const struct {
        std::string_view file;
        std::string_view description;
    } cases[] = {
        {"invalid-missing-session-id.json", "missing field `sessionId` at line 1 column 14"},
        {"invalid-alpha-out-of-range.json",
         "invalid value: integer `256`, expected u8 at line 11 column 29"},
        {"invalid-windows-null.json",
         "invalid type: null, expected a sequence at line 1 column 89"},
        {"invalid-version-fraction.json",
         "invalid type: floating point `1.0`, expected u32 at line 1 column 16"},
        {"invalid-visible-as-string.json",
         "invalid type: string \"true\", expected a boolean at line 1 column 88"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(outcome_of(example(c.file)), c.description);
    }
}

TEST(RecoveryMarkerExamples, EveryExampleFileHasAnExpectationAbove) {
    const std::string_view covered[] = {
        "valid-both-items.json",           "valid-neither-item.json",
        "valid-items-null.json",           "valid-two-taskbars.json",
        "invalid-missing-session-id.json", "invalid-alpha-out-of-range.json",
        "invalid-windows-null.json",       "invalid-version-fraction.json",
        "invalid-visible-as-string.json",
    };
    ASSERT_EQ(std::size(example_files), std::size(covered));
    for (const ExampleFile& file : example_files) {
        SCOPED_TRACE(file.name);
        EXPECT_NE(std::find(std::begin(covered), std::end(covered), file.name), std::end(covered));
    }
}

// ---------------------------------------------------------------------------------------------
// The document as a whole: one JSON text in UTF-8, JSON whitespace only around it.

TEST(RecoveryMarkerDocument, AcceptsOnlyOneJsonTextWithJsonWhitespaceAround) {
    const Case cases[] = {
        {"space, tab, CR and LF around the root",
         " \t\r\n{\"version\":1,\"sessionId\":\"s\"}\r\n\t ", "accepted"},
        {"empty input", "", "incomplete JSON at line 1 column 1"},
        {"whitespace only", " \n\t", "incomplete JSON at line 2 column 2"},
        {"UTF-8 byte-order mark", "\xEF\xBB\xBF{\"version\":1,\"sessionId\":\"s\"}",
         "syntax error at line 1 column 1"},
        {"text after the root", R"({"version":1,"sessionId":"s"} x)",
         "trailing characters at line 1 column 31"},
        {"a second root value", R"({"version":1,"sessionId":"s"}{})",
         "trailing characters at line 1 column 30"},
        {"text after whitespace lines", "{\"version\":1,\"sessionId\":\"s\"}\n\n  0",
         "trailing characters at line 3 column 3"},
        {"a NUL byte after the root", "{\"version\":1,\"sessionId\":\"s\"}\0"sv,
         "trailing characters at line 1 column 30"},
        {"a no-break space after the root", "{\"version\":1,\"sessionId\":\"s\"}\xC2\xA0",
         "trailing characters at line 1 column 30"},
        {"a form feed before the root", "\f{\"version\":1,\"sessionId\":\"s\"}",
         "syntax error at line 1 column 1"},
        {"a comment before the root", "// marker\n{\"version\":1,\"sessionId\":\"s\"}",
         "syntax error at line 1 column 1"},
        {"unterminated root object", R"({"version":1,"sessionId":"s")",
         "incomplete JSON at line 1 column 29"},
    };
    expect_outcomes(cases);
}

// ---------------------------------------------------------------------------------------------
// Where a record is expected, only an object or an array will do.

TEST(RecoveryMarkerRecordForms, OtherValuesWhereARecordIsExpectedNameTheRecord) {
    const Case cases[] = {
        {"root string", R"("abc")",
         "invalid type: string \"abc\", expected struct RecoveryMarker at line 1 column 5"},
        {"root integer", "5",
         "invalid type: integer `5`, expected struct RecoveryMarker at line 1 column 2"},
        {"root boolean", "true",
         "invalid type: boolean `true`, expected struct RecoveryMarker at line 1 column 1"},
        {"root null", " null",
         "invalid type: null, expected struct RecoveryMarker at line 1 column 2"},
        {"desktopIcons boolean", R"({"version":1,"sessionId":"s","desktopIcons":true})",
         "invalid type: boolean `true`, expected struct DesktopIconRecovery at line 1 column 45"},
        {"taskbar string", R"({"version":1,"sessionId":"s","taskbar":"x"})",
         "invalid type: string \"x\", expected struct TaskbarRecoverySnapshot at line 1 column "
         "42"},
        {"taskbar string after an escaped sessionId",
         R"({"version":1,"sessionId":"a\"b","taskbar":"x"})",
         "invalid type: string \"x\", expected struct TaskbarRecoverySnapshot at line 1 column "
         "45"},
        {"windows element integer",
         R"({"version":1,"sessionId":"s","taskbar":{"appbar_state":0,"windows":[1]}})",
         "invalid type: integer `1`, expected struct TaskbarWindowRecoveryState at line 1 "
         "column 70"},
        {"windows element null",
         R"({"version":1,"sessionId":"s","taskbar":{"appbar_state":0,"windows":[null]}})",
         "invalid type: null, expected struct TaskbarWindowRecoveryState at line 1 column 69"},
    };
    expect_outcomes(cases);
}

// ---------------------------------------------------------------------------------------------
// Object form: exact keys, undefined keys skipped, no repeats, required keys in declared order.

TEST(RecoveryMarkerObjectForm, KeysMatchByExactBytes) {
    const Case cases[] = {
        {"letter case differs", R"({"version":1,"SessionId":"s"})",
         "missing field `sessionId` at line 1 column 29"},
        {"snake case spelling", R"({"version":1,"session_id":"s"})",
         "missing field `sessionId` at line 1 column 30"},
        {"trailing blank in the key", R"({"version":1,"sessionId ":"s"})",
         "missing field `sessionId` at line 1 column 30"},
        {"escapes are decoded before comparing", R"({"\u0076ersion":1,"session\u0049d":"s"})",
         "accepted"},
    };
    expect_outcomes(cases);
}

TEST(RecoveryMarkerObjectForm, UndefinedKeysAreSkippedWithTheirWholeValue) {
    const Case cases[] = {
        {"nested object holding defined key names",
         R"({"x":{"version":"no","sessionId":5,"taskbar":[]},"version":1,"sessionId":"s"})",
         "accepted"},
        {"repeated undefined key with nested arrays",
         R"({"x":1,"x":[1,{"y":null},[[]]],"version":1,"sessionId":"s","x":"z"})", "accepted"},
        {"numbers of any size and form",
         R"({"x":1e400,"y":-0.5e-3,"z":123456789012345678901234567890,"version":1,"sessionId":"s"})",
         "accepted"},
        {"undefined key inside a nested record",
         R"({"version":1,"sessionId":"s","desktopIcons":{"note":{"a":[true]},"originalVisible":false}})",
         "accepted"},
        {"syntax inside a skipped value is still checked",
         R"({"x":[1,],"version":1,"sessionId":"s"})", "trailing comma at line 1 column 9"},
    };
    expect_outcomes(cases);
    const auto skipped = parse_recovery_marker(
        R"({"x":{"version":7,"sessionId":"other"},"version":1,"sessionId":"s"})");
    ASSERT_TRUE(skipped.has_value()) << skipped.error();
    EXPECT_EQ(*skipped, neither_item("s"));
}

TEST(RecoveryMarkerObjectForm, RepeatedDefinedKeysFailAtTheSecondOccurrence) {
    const Case cases[] = {
        {"version twice", R"({"version":1,"sessionId":"s","version":1})",
         "duplicate field `version` at line 1 column 38"},
        {"taskbar null, then an object",
         R"({"version":1,"sessionId":"s","taskbar":null,"taskbar":{"appbar_state":0,"windows":[]}})",
         "duplicate field `taskbar` at line 1 column 53"},
        {"desktopIcons null twice",
         R"({"version":1,"sessionId":"s","desktopIcons":null,"desktopIcons":null})",
         "duplicate field `desktopIcons` at line 1 column 63"},
        {"repeat inside a nested record",
         R"({"version":1,"sessionId":"s","desktopIcons":{"originalVisible":true,"originalVisible":true}})",
         "duplicate field `originalVisible` at line 1 column 85"},
        {"repeat inside a window",
         R"({"version":1,"sessionId":"s","taskbar":{"appbar_state":0,"windows":[{"hwnd":1,"hwnd":1}]}})",
         "duplicate field `hwnd` at line 1 column 84"},
        {"before anything else is wrong", R"({"version":1,"version":"x"})",
         "duplicate field `version` at line 1 column 22"},
    };
    expect_outcomes(cases);
}

TEST(RecoveryMarkerObjectForm, MissingRequiredKeysAreNamedInDeclaredOrder) {
    const Case cases[] = {
        {"both root keys missing", "{}", "missing field `version` at line 1 column 2"},
        {"only sessionId given", R"({"sessionId":"s"})",
         "missing field `version` at line 1 column 17"},
        {"originalVisible", R"({"version":1,"sessionId":"s","desktopIcons":{}})",
         "missing field `originalVisible` at line 1 column 46"},
        {"appbar_state before windows", R"({"version":1,"sessionId":"s","taskbar":{}})",
         "missing field `appbar_state` at line 1 column 41"},
        {"windows", R"({"version":1,"sessionId":"s","taskbar":{"appbar_state":0}})",
         "missing field `windows` at line 1 column 57"},
        {"every window field, hwnd first",
         R"({"version":1,"sessionId":"s","taskbar":{"appbar_state":0,"windows":[{}]}})",
         "missing field `hwnd` at line 1 column 70"},
        {"the last window field",
         "{\"version\":1,\"sessionId\":\"s\",\"taskbar\":{\"appbar_state\":0,\"windows\":[\n"
         "{\"hwnd\":1,\"ex_style\":0,\"layered_color\":0,\"layered_alpha\":0,\"layered_flags\":0}]}"
         "}",
         "missing field `had_layered_attributes` at line 2 column 77"},
    };
    expect_outcomes(cases);
}

TEST(RecoveryMarkerObjectForm, OptionalRecordsMayBeMissingOrNullAndKeysComeInAnyOrder) {
    const auto reordered = parse_recovery_marker(
        R"({"taskbar":{"windows":[],"appbar_state":3},"sessionId":"s","desktopIcons":null,"version":2})");
    ASSERT_TRUE(reordered.has_value()) << reordered.error();
    RecoveryMarker expected = neither_item("s");
    expected.version = 2;
    expected.taskbar = TaskbarRecoverySnapshot{3, {}};
    EXPECT_EQ(*reordered, expected);
}

// ---------------------------------------------------------------------------------------------
// Array form: the fields in declared order, every one present, nothing after the last.

TEST(RecoveryMarkerArrayForm, LengthMustEqualTheFieldCount) {
    const Case cases[] = {
        {"root of two", R"([1,"s"])",
         "invalid length 2, expected struct RecoveryMarker with 4 elements at line 1 column 7"},
        {"empty root", "[]",
         "invalid length 0, expected struct RecoveryMarker with 4 elements at line 1 column 2"},
        {"optional fields still need their null", R"([1,"s",null])",
         "invalid length 3, expected struct RecoveryMarker with 4 elements at line 1 column 12"},
        {"root of five", R"([1,"s",null,null,5])", "trailing characters at line 1 column 19"},
        {"root of five, an object last", R"([1,"s",null,null,{}])",
         "trailing characters at line 1 column 18"},
        {"desktopIcons empty", R"({"version":1,"sessionId":"s","desktopIcons":[]})",
         "invalid length 0, expected struct DesktopIconRecovery with 1 element at line 1 column "
         "46"},
        {"desktopIcons of two", R"([1,"s",[true,false],null])",
         "trailing characters at line 1 column 14"},
        {"taskbar of one", R"([1,"s",null,[2]])",
         "invalid length 1, expected struct TaskbarRecoverySnapshot with 2 elements at line 1 "
         "column 15"},
        {"window of five", R"([1,"s",null,[2,[[1,2,3,4,5]]]])",
         "invalid length 5, expected struct TaskbarWindowRecoveryState with 6 elements at line "
         "1 column 27"},
        {"window of seven", R"([1,"s",null,[2,[[1,2,3,4,5,true,7]]]])",
         "trailing characters at line 1 column 34"},
        {"elements have their field's type", R"(["1","s",null,null])",
         "invalid type: string \"1\", expected u32 at line 1 column 4"},
        {"array form inside object form",
         R"({"version":1,"sessionId":"s","taskbar":[0,[[-1,-1,1,1,1,true]]]})", "accepted"},
        {"object form inside array form", R"([1,"s",{"originalVisible":false},null])", "accepted"},
    };
    expect_outcomes(cases);
}

// Boost rejects a comma before a closing bracket as a syntax error before any surplus element
// reaches the records. Such a comma is described as "trailing comma" wherever it stands, in
// arrays and objects alike; a real surplus element gives "trailing characters" (above).
TEST(RecoveryMarkerArrayForm, CommaBeforeTheClosingBracketIsATrailingComma) {
    const Case cases[] = {
        {"after the last field", R"([1,"s",null,null,])", "trailing comma at line 1 column 18"},
        {"with whitespace around", "[1,\"s\",null,null , \n ]",
         "trailing comma at line 2 column 2"},
        {"after too few fields", R"([1,"s",])", "trailing comma at line 1 column 8"},
        {"in an object", R"({"version":1,"sessionId":"s",})", "trailing comma at line 1 column 30"},
        {"a comma alone is no trailing comma", "[,]", "syntax error at line 1 column 2"},
    };
    expect_outcomes(cases);
}

// ---------------------------------------------------------------------------------------------
// Integer fields: no fraction, no exponent, and within the field's range.

// A marker whose second line sets one field, so that a description's position is easy to
// read off: line 2, column one past the value for numbers and strings.
std::string root_with(std::string_view key, std::string_view value) {
    const std::string first_line = key == "version" ? R"({"sessionId":"s",)" : R"({"version":1,)";
    return first_line + "\n\"" + std::string(key) + "\":" + std::string(value) + "}";
}

std::string snapshot_with(std::string_view key, std::string_view value) {
    const std::string other = key == "windows" ? R"("appbar_state":0,)" : R"("windows":[],)";
    return R"({"version":1,"sessionId":"s","taskbar":{)" + other + "\n\"" + std::string(key) +
           "\":" + std::string(value) + "}}";
}

std::string window_with(std::string_view key, std::string_view value) {
    constexpr std::string_view others[] = {"hwnd", "ex_style", "layered_color", "layered_alpha",
                                           "layered_flags"};
    std::string marker = R"({"version":1,"sessionId":"s","taskbar":{"appbar_state":0,"windows":[{)";
    for (const std::string_view other : others) {
        if (other != key) {
            marker += "\"" + std::string(other) + "\":0,";
        }
    }
    if (key != "had_layered_attributes") {
        marker += "\"had_layered_attributes\":false,";
    }
    return marker + "\n\"" + std::string(key) + "\":" + std::string(value) + "}]}}";
}

std::string icons_with(std::string_view key, std::string_view value) {
    return "{\"version\":1,\"sessionId\":\"s\",\"desktopIcons\":{\n\"" + std::string(key) +
           "\":" + std::string(value) + "}}";
}

struct FieldCase {
    std::string (*marker_with)(std::string_view key, std::string_view value);
    std::string_view key;
    std::string_view value;
    std::string_view outcome; // "accepted" or the whole description
};

void expect_field_outcomes(std::span<const FieldCase> cases) {
    for (const FieldCase& c : cases) {
        const std::string marker = c.marker_with(c.key, c.value);
        SCOPED_TRACE(std::string(c.key) + " = " + std::string(c.value) + "\n" + marker);
        EXPECT_EQ(outcome_of(marker), c.outcome);
    }
}

TEST(RecoveryMarkerIntegers, FractionsAndExponentsAreTheWrongType) {
    const FieldCase cases[] = {
        {root_with, "version", "1.0",
         "invalid type: floating point `1.0`, expected u32 at line 2 column 14"},
        {root_with, "version", "1e0",
         "invalid type: floating point `1e0`, expected u32 at line 2 column 14"},
        {root_with, "version", "2E+1",
         "invalid type: floating point `2E+1`, expected u32 at line 2 column 15"},
        {root_with, "version", "-0.0",
         "invalid type: floating point `-0.0`, expected u32 at line 2 column 15"},
        {window_with, "hwnd", "1.5",
         "invalid type: floating point `1.5`, expected i64 at line 2 "
         "column 11"},
        {window_with, "layered_alpha", "255.0",
         "invalid type: floating point `255.0`, expected u8 at line 2 column 22"},
    };
    expect_field_outcomes(cases);
}

TEST(RecoveryMarkerIntegers, OtherJsonTypesAreTheWrongType) {
    const FieldCase cases[] = {
        {root_with, "version", R"("1")",
         "invalid type: string \"1\", expected u32 at line 2 column 13"},
        {root_with, "version", "true",
         "invalid type: boolean `true`, expected u32 at line 2 column 11"},
        {root_with, "version", "null", "invalid type: null, expected u32 at line 2 column 11"},
        {root_with, "version", "[1]", "invalid type: sequence, expected u32 at line 2 column 11"},
        {root_with, "version", "{}", "invalid type: map, expected u32 at line 2 column 11"},
        {window_with, "ex_style", "false",
         "invalid type: boolean `false`, expected i32 at line 2 column 12"},
        {snapshot_with, "appbar_state", "null",
         "invalid type: null, expected u32 at line 2 column 16"},
    };
    expect_field_outcomes(cases);
}

TEST(RecoveryMarkerIntegers, ValuesOutsideTheRangeAreInvalidValues) {
    const FieldCase cases[] = {
        {root_with, "version", "-1",
         "invalid value: integer `-1`, expected u32 at line 2 column 13"},
        {root_with, "version", "4294967296",
         "invalid value: integer `4294967296`, expected u32 at line 2 column 21"},
        {snapshot_with, "appbar_state", "4294967296",
         "invalid value: integer `4294967296`, expected u32 at line 2 column 26"},
        {window_with, "layered_color", "-1",
         "invalid value: integer `-1`, expected u32 at line 2 column 19"},
        {window_with, "layered_flags", "4294967296",
         "invalid value: integer `4294967296`, expected u32 at line 2 column 27"},
        {window_with, "layered_alpha", "256",
         "invalid value: integer `256`, expected u8 at line 2 column 20"},
        {window_with, "layered_alpha", "-1",
         "invalid value: integer `-1`, expected u8 at line 2 column 19"},
        {window_with, "ex_style", "2147483648",
         "invalid value: integer `2147483648`, expected i32 at line 2 column 22"},
        {window_with, "ex_style", "-2147483649",
         "invalid value: integer `-2147483649`, expected i32 at line 2 column 23"},
        {window_with, "hwnd", "9223372036854775808",
         "invalid value: integer `9223372036854775808`, expected i64 at line 2 column 27"},
        {window_with, "hwnd", "-9223372036854775809",
         "invalid value: integer `-9223372036854775809`, expected i64 at line 2 column 28"},
        {window_with, "hwnd", "18446744073709551616",
         "invalid value: integer `18446744073709551616`, expected i64 at line 2 column 28"},
    };
    expect_field_outcomes(cases);
}

TEST(RecoveryMarkerIntegers, RangeLimitsAreAcceptedExactly) {
    const struct {
        std::string (*marker_with)(std::string_view key, std::string_view value);
        std::string_view key;
        std::string_view value;
        std::int64_t (*read)(const RecoveryMarker&);
        std::int64_t expected;
    } cases[] = {
        {root_with, "version", "0",
         [](const RecoveryMarker& m) -> std::int64_t { return m.version; }, 0},
        {root_with, "version", "2",
         [](const RecoveryMarker& m) -> std::int64_t { return m.version; }, 2},
        {root_with, "version", "4294967295",
         [](const RecoveryMarker& m) -> std::int64_t { return m.version; }, 4294967295},
        {root_with, "version", "-0",
         [](const RecoveryMarker& m) -> std::int64_t { return m.version; }, 0},
        {snapshot_with, "appbar_state", "4294967295",
         [](const RecoveryMarker& m) -> std::int64_t { return m.taskbar->appbar_state; },
         4294967295},
        {window_with, "layered_alpha", "255",
         [](const RecoveryMarker& m) -> std::int64_t {
             return m.taskbar->windows.at(0).layered_alpha;
         },
         255},
        {window_with, "ex_style", "-2147483648",
         [](const RecoveryMarker& m) -> std::int64_t { return m.taskbar->windows.at(0).ex_style; },
         -2147483648},
        {window_with, "ex_style", "2147483647",
         [](const RecoveryMarker& m) -> std::int64_t { return m.taskbar->windows.at(0).ex_style; },
         2147483647},
        {window_with, "hwnd", "-9223372036854775808",
         [](const RecoveryMarker& m) -> std::int64_t { return m.taskbar->windows.at(0).hwnd; },
         INT64_MIN},
        {window_with, "hwnd", "9223372036854775807",
         [](const RecoveryMarker& m) -> std::int64_t { return m.taskbar->windows.at(0).hwnd; },
         INT64_MAX},
        {window_with, "hwnd", "-1",
         [](const RecoveryMarker& m) -> std::int64_t { return m.taskbar->windows.at(0).hwnd; }, -1},
        {window_with, "layered_color", "4294967295",
         [](const RecoveryMarker& m) -> std::int64_t {
             return m.taskbar->windows.at(0).layered_color;
         },
         4294967295},
        {window_with, "layered_flags", "4294967295",
         [](const RecoveryMarker& m) -> std::int64_t {
             return m.taskbar->windows.at(0).layered_flags;
         },
         4294967295},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " = " + std::string(c.value));
        const auto parsed = parse_recovery_marker(c.marker_with(c.key, c.value));
        if (!parsed) {
            ADD_FAILURE() << parsed.error();
            continue;
        }
        EXPECT_EQ(c.read(*parsed), c.expected);
    }
}

// ---------------------------------------------------------------------------------------------
// Booleans, the session id and the window list.

TEST(RecoveryMarkerOtherFields, BooleansTakeTrueAndFalseOnly) {
    const FieldCase cases[] = {
        {icons_with, "originalVisible", "1",
         "invalid type: integer `1`, expected a boolean at line 2 column 20"},
        {icons_with, "originalVisible", R"("true")",
         "invalid type: string \"true\", expected a boolean at line 2 column 24"},
        {icons_with, "originalVisible", "null",
         "invalid type: null, expected a boolean at line 2 column 19"},
        {window_with, "had_layered_attributes", "0",
         "invalid type: integer `0`, expected a boolean at line 2 column 27"},
        {window_with, "had_layered_attributes", "true", "accepted"},
    };
    expect_field_outcomes(cases);
    const auto hidden = parse_recovery_marker(icons_with("originalVisible", "false"));
    ASSERT_TRUE(hidden.has_value()) << hidden.error();
    ASSERT_TRUE(hidden->desktopIcons.has_value());
    EXPECT_FALSE(hidden->desktopIcons->originalVisible);
}

TEST(RecoveryMarkerOtherFields, SessionIdTakesStringsOnly) {
    const FieldCase cases[] = {
        {root_with, "sessionId", "5",
         "invalid type: integer `5`, expected a string at line 2 column 14"},
        {root_with, "sessionId", "null",
         "invalid type: null, expected a string at line 2 column 13"},
        {root_with, "sessionId", "[]",
         "invalid type: sequence, expected a string at line 2 column 13"},
        {root_with, "sessionId", "{\"a\":1}",
         "invalid type: map, expected a string at line 2 column 13"},
    };
    expect_field_outcomes(cases);
}

TEST(RecoveryMarkerOtherFields, SessionIdEscapesAreDecoded) {
    const struct {
        std::string_view written;
        std::string_view decoded;
    } cases[] = {
        {R"("")", ""},
        {R"("a\"b\\c\/d")", "a\"b\\c/d"},
        {R"("\b\f\n\r\t")", "\b\f\n\r\t"},
        {R"("\u00e9\u4e2d")", "\xC3\xA9\xE4\xB8\xAD"},
        {R"("\ud83d\ude00")", "\xF0\x9F\x98\x80"},
        {R"("\u0000")", "\0"sv},
        {"\"\xE4\xB8\xAD\xE6\x96\x87\"", "\xE4\xB8\xAD\xE6\x96\x87"},
        {R"("Demo-Session-1 ")", "Demo-Session-1 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written);
        const auto parsed = parse_recovery_marker(root_with("sessionId", c.written));
        if (!parsed) {
            ADD_FAILURE() << parsed.error();
            continue;
        }
        EXPECT_EQ(parsed->sessionId, c.decoded);
    }
}

TEST(RecoveryMarkerOtherFields, WindowsTakesAnArrayOnly) {
    const FieldCase cases[] = {
        {snapshot_with, "windows", "null",
         "invalid type: null, expected a sequence at line 2 column 11"},
        {snapshot_with, "windows", "{}",
         "invalid type: map, expected a sequence at line 2 column 11"},
        {snapshot_with, "windows", "5",
         "invalid type: integer `5`, expected a sequence at line 2 column 12"},
        {snapshot_with, "windows", R"("")",
         "invalid type: string \"\", expected a sequence at line 2 column 12"},
    };
    expect_field_outcomes(cases);
    const auto empty = parse_recovery_marker(
        R"({"version":1,"sessionId":"s","taskbar":{"appbar_state":0,"windows":[]}})");
    ASSERT_TRUE(empty.has_value()) << empty.error();
    ASSERT_TRUE(empty->taskbar.has_value());
    EXPECT_TRUE(empty->taskbar->windows.empty());
}

// ---------------------------------------------------------------------------------------------
// Syntax errors are the JSON reader's own descriptions, with the position.

TEST(RecoveryMarkerSyntax, JsonErrorsGetTheReadersDescriptionAndPosition) {
    const Case cases[] = {
        {"leading zero", R"({"version":01})", "syntax error at line 1 column 13"},
        {"plus sign", R"({"version":+1})", "syntax error at line 1 column 12"},
        {"bare fraction", R"({"version":.5})", "syntax error at line 1 column 12"},
        {"NaN", R"({"version":NaN})", "syntax error at line 1 column 12"},
        {"exponent too large in a skipped value",
         R"({"version":1,"sessionId":"s","x":1e999999999999999999999})",
         "exponent overflow at line 1 column 45",
         {108300, "accepted"}},
        {"exponent too large for an integer field",
         R"({"version":1e999999999999999999999})",
         "exponent overflow at line 1 column 23",
         {108300, "invalid type: floating point `1e999999999999999999999`, expected u32 at line "
                  "1 column 35"}},
        {"single quotes", "{'version':1}", "syntax error at line 1 column 2"},
        {"unquoted key", "{version:1}", "syntax error at line 1 column 2"},
        {"missing colon", R"({"version" 1})", "syntax error at line 1 column 12"},
        {"unknown escape", R"({"version":1,"sessionId":"\x"})", "syntax error at line 1 column 28"},
        {"short unicode escape", R"({"version":1,"sessionId":"\u12"})",
         "expected hex digit at line 1 column 31"},
        {"raw tab in a string", "{\"version\":1,\"sessionId\":\"a\tb\"}",
         "syntax error at line 1 column 28"},
        {"unterminated string", R"({"version":1,"sessionId":"s)",
         "incomplete JSON at line 1 column 28"},
    };
    expect_outcomes(cases);
}

TEST(RecoveryMarkerSyntax, InvalidUtf8AndLoneSurrogatesAreRejected) {
    const Case cases[] = {
        {"0xFF in a value", "{\"version\":1,\"sessionId\":\"\xFF\"}",
         "syntax error at line 1 column 27"},
        {"overlong slash in a key", "{\"version\":1,\"session\xC0\xAFId\":\"s\"}",
         "syntax error at line 1 column 22"},
        {"encoded surrogate in a value", "{\"version\":1,\"sessionId\":\"\xED\xA0\x80\"}",
         "syntax error at line 1 column 27"},
        {"truncated sequence in a skipped value",
         "{\"x\":\"\xE4\xB8\",\"version\":1,\"sessionId\":\"s\"}",
         "syntax error at line 1 column 7"},
        {"lone high surrogate escape", R"({"version":1,"sessionId":"\ud800"})",
         "syntax error at line 1 column 33"},
        {"lone low surrogate escape",
         R"({"version":1,"sessionId":"\udc00"})",
         "illegal trailing surrogate at line 1 column 33",
         {108600, "illegal leading surrogate at line 1 column 33"}},
        {"high surrogate before a letter", R"({"version":1,"sessionId":"\ud800\u0041"})",
         "illegal trailing surrogate at line 1 column 35"},
    };
    expect_outcomes(cases);
}

// Undefined keys may carry nested values; the depth limit of 128 containers (the root's
// included) keeps a hostile file from exhausting memory.
TEST(RecoveryMarkerSyntax, NestingIsLimitedTo128Containers) {
    const std::string prefix = R"({"version":1,"sessionId":"s","x":)";
    const auto nested = [&prefix](std::size_t depth) {
        return prefix + std::string(depth, '[') + std::string(depth, ']') + "}";
    };
    EXPECT_EQ(outcome_of(nested(127)), "accepted");
    EXPECT_EQ(outcome_of(nested(128)), "too deep at line 1 column 161");
    EXPECT_EQ(outcome_of(nested(100000)), "too deep at line 1 column 161");
}

// ---------------------------------------------------------------------------------------------
// Positions and the way values are described.

TEST(RecoveryMarkerDescriptions, PositionsCountLinesAndByteColumns) {
    const Case cases[] = {
        {"error on a later line",
         "{\n  \"version\": 1,\n  \"sessionId\": \"s\",\n  \"taskbar\": {\"appbar_state\": 0, "
         "\"windows\": [{\"hwnd\": 1.5}]}\n}",
         "invalid type: floating point `1.5`, expected i64 at line 4 column 58"},
        {"carriage return is a byte of its line", "{\r\n\"version\": -1\r\n}",
         "invalid value: integer `-1`, expected u32 at line 2 column 14"},
        {"columns count bytes, not characters",
         "{\"sessionId\":\"\xE4\xB8\xAD\xE6\x96\x87\",\"version\":true}",
         "invalid type: boolean `true`, expected u32 at line 1 column 33"},
        {"missing field at the closing brace of a later line", "{\"version\": 1\n\n}",
         "missing field `sessionId` at line 3 column 1"},
    };
    expect_outcomes(cases);
}

TEST(RecoveryMarkerDescriptions, QuotedValuesAreEscapedAndCutToSixtyFourBytes) {
    const std::string long_digits(400, '7');
    const std::string long_text(100, 'a');
    // 63 ASCII bytes then a two-byte character: the cut may not split it.
    const std::string split_character = std::string(63, 'b') + "\xC3\xA9" + "tail";
    const struct {
        std::string_view behaviour;
        std::string value;
        std::string description;
    } cases[] = {
        {"400-digit integer", long_digits,
         "invalid value: integer `" + std::string(64, '7') +
             "…`, expected u32 at line 2 column 411"},
        {"400-digit fraction", long_digits + ".5",
         "invalid type: floating point `" + std::string(64, '7') +
             "…`, expected u32 at line 2 column 413"},
        {"64-byte string whole", "\"" + std::string(64, 'c') + "\"",
         "invalid type: string \"" + std::string(64, 'c') + "\", expected u32 at line 2 column 76"},
        {"65-byte string cut", "\"" + std::string(65, 'c') + "\"",
         "invalid type: string \"" + std::string(64, 'c') +
             "…\", expected u32 at line 2 column 77"},
        {"long string", "\"" + long_text + "\"",
         "invalid type: string \"" + std::string(64, 'a') +
             "…\", expected u32 at line 2 column 112"},
        {"cut before a multi-byte character", "\"" + split_character + "\"",
         "invalid type: string \"" + std::string(63, 'b') +
             "…\", expected u32 at line 2 column 81"},
        {"quotes, backslashes and control characters", R"("a\"b\\c\n\u0001\u007f")",
         "invalid type: string \"a\\\"b\\\\c\\n\\u0001\\u007f\", expected u32 at line 2 column 33"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        EXPECT_EQ(outcome_of(root_with("version", c.value)), c.description);
    }
}

} // namespace
} // namespace watchdog
