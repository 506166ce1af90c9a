#include "win/command_line.h"
#include "win/unique_resource.h"

#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <random>

namespace watchdog {
namespace {

using Arguments = std::vector<std::wstring>;

struct SplitCase {
    const wchar_t* command_line;
    Arguments expected;
};

// Each row is one rule of how the C runtime builds argv.
const SplitCase split_cases[] = {
    {L"", {L""}},
    {L"prog", {L"prog"}},
    {L"prog   --watch", {L"prog", L"--watch"}},
    {L"prog \t a \t b \t", {L"prog", L"a", L"b"}},
    {L"\"C:\\Program Files\\w.exe\" x", {L"C:\\Program Files\\w.exe", L"x"}},
    {L"C:\\a\\b\\\" c", {L"C:\\a\\b\\ c"}}, // argument 0: backslashes literal, quote toggles
    {L"p \"a b\" c", {L"p", L"a b", L"c"}},
    {L"p \"\"", {L"p", L""}},
    {L"p \"\" \"\"", {L"p", L"", L""}},
    {L"p a\"b c\"d", {L"p", L"ab cd"}},
    {L"p \\\"a", {L"p", L"\"a"}},             // 1 backslash + quote: escaped quote
    {L"p \\\\\"a b\"", {L"p", L"\\a b"}},     // 2 backslashes + quote: one backslash, quoting
    {L"p \\\\\\\"a", {L"p", L"\\\"a"}},       // 3 backslashes + quote
    {L"p a\\\\b", {L"p", L"a\\\\b"}},         // backslashes without a quote are literal
    {L"p \"a\\\\\" b", {L"p", L"a\\", L"b"}}, // trailing backslashes before a closing quote
    {L"p \"a\"\"b\"", {L"p", L"a\"b"}},       // two quotes inside quotes: one literal quote
    {L"p \"a\"\"\" b", {L"p", L"a\"", L"b"}},
    {L"p \"unterminated arg", {L"p", L"unterminated arg"}},
};

TEST(SplitCommandLine, FollowsTheRuntimeRules) {
    for (const auto& row : split_cases) {
        SCOPED_TRACE(row.command_line);
        EXPECT_EQ(split_command_line(row.command_line), row.expected);
    }
}

struct QuoteCase {
    const wchar_t* argument;
    const wchar_t* encoded;
};

const QuoteCase quote_cases[] = {
    {L"plain", L"plain"},
    {L"", L"\"\""},
    {L"a b", L"\"a b\""},
    {L"a\tb", L"\"a\tb\""},
    {L"C:\\dir\\", L"C:\\dir\\"},                             // unquoted: trailing \ stays single
    {L"C:\\dir with space\\", L"\"C:\\dir with space\\\\\""}, // quoted: trailing \ doubled
    {L"a\"b", L"a\\\"b"},
    {L"a\\\"b", L"a\\\\\\\"b"},
    {L"\\\\server\\share", L"\\\\server\\share"},
};

TEST(QuoteArgument, QuotesOnlyWhenNeededAndEscapesQuotes) {
    for (const auto& row : quote_cases) {
        SCOPED_TRACE(row.argument);
        EXPECT_EQ(quote_argument(row.argument), row.encoded);
    }
}

Arguments round_trip(const Arguments& arguments) {
    Arguments split =
        split_command_line(build_command_line(L"C:\\Program Files\\w.exe", arguments));
    EXPECT_EQ(split.front(), L"C:\\Program Files\\w.exe");
    return Arguments(split.begin() + 1, split.end());
}

const Arguments hard_arguments[] = {
    {L"1234", L"", L"C:\\Users\\A B\\marker.json"},
    {L"+1", L"session \"quoted\"", L"C:\\dir with space\\"},
    {L"\\\\", L"\\\"", L"\"\\"},
    {L"\t", L" ", L"\"\""},
    {L"a\\\\\\\"b c", L"end\\\\", L"x y\\\\\\"},
    {std::wstring(1, wchar_t(0xD800)), std::wstring(L"a") + wchar_t(0xDC00) + L" b",
     L"\xD83D\xDE00 \x4E2D\x6587"},
};

TEST(CommandLineRoundTrip, HardArgumentsArriveUnchanged) {
    for (std::size_t row = 0; row < std::size(hard_arguments); ++row) {
        SCOPED_TRACE("row " + std::to_string(row));
        EXPECT_EQ(round_trip(hard_arguments[row]), hard_arguments[row]);
    }
}

std::wstring random_argument(std::mt19937& random) {
    static const std::wstring alphabet = L"ab \t\"\\\\\\\"'x\x4E2D";
    std::uniform_int_distribution<int> length(0, 12);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(alphabet.size()) + 3);
    std::wstring argument;
    for (int n = length(random); n > 0; --n) {
        const int choice = pick(random);
        const auto size = static_cast<int>(alphabet.size());
        if (choice < size) {
            argument.push_back(alphabet[static_cast<std::size_t>(choice)]);
        } else if (choice == size) {
            argument.append(L"\xD83D\xDE00"); // a pair outside the BMP
        } else if (choice == size + 1) {
            argument.push_back(static_cast<wchar_t>(0xD800 + (random() % 0x800))); // lone surrogate
        } else {
            argument.push_back(static_cast<wchar_t>(0x20 + random() % 0x5F));
        }
    }
    return argument;
}

Arguments random_arguments(std::mt19937& random) {
    Arguments arguments(std::uniform_int_distribution<std::size_t>(0, 5)(random));
    for (auto& argument : arguments) {
        argument = random_argument(random);
    }
    return arguments;
}

TEST(CommandLineRoundTrip, RandomArgumentListsArriveUnchanged) {
    std::mt19937 random(20261208);
    for (int i = 0; i < 5000; ++i) {
        const Arguments arguments = random_arguments(random);
        ASSERT_EQ(round_trip(arguments), arguments) << "case " << i;
    }
}

Arguments split_by_shell(const std::wstring& line) {
    int count = 0;
    const UniqueLocalMemory<LPWSTR> argv(CommandLineToArgvW(line.c_str(), &count));
    return Arguments(argv.get(), argv.get() + count);
}

// The encoder never writes two quotes in a row inside quotes, where the shell's older splitter
// differs from the runtime's; on everything it does write, the two must agree.
TEST(CommandLineRoundTrip, AgreesWithTheShellSplitterOnEncodedLines) {
    std::mt19937 random(7);
    for (int i = 0; i < 2000; ++i) {
        Arguments arguments = random_arguments(random);
        arguments.insert(arguments.begin(), L"--watch");
        const std::wstring line = build_command_line(L"C:\\w.exe", arguments);
        ASSERT_EQ(split_command_line(line), split_by_shell(line)) << "case " << i;
    }
}

} // namespace
} // namespace watchdog
