#include "win/command_line.h"

namespace watchdog {
namespace {

// The rules are those of the Microsoft C runtime (2008 and later), as described in
// "Parsing C++ command-line arguments" and Raymond Chen's "How is the command line parsed?".
bool is_blank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// Argument 0 is special: quotes only toggle, and backslashes are literal, because a program
// path never needs escapes.
std::size_t take_program_path(std::wstring_view line, std::wstring& out) {
    bool quoted = false;
    std::size_t i = 0;
    for (; i < line.size(); ++i) {
        if (line[i] == L'"') {
            quoted = !quoted;
        } else if (!quoted && is_blank(line[i])) {
            break;
        } else {
            out.push_back(line[i]);
        }
    }
    return i;
}

// Reads one argument starting at a non-blank character; returns the index after it.
std::size_t take_argument(std::wstring_view line, std::size_t i, std::wstring& out) {
    bool quoted = false;
    while (i < line.size() && (quoted || !is_blank(line[i]))) {
        if (line[i] == L'\\') {
            std::size_t backslashes = 0;
            while (i < line.size() && line[i] == L'\\') {
                ++backslashes, ++i;
            }
            const bool before_quote = i < line.size() && line[i] == L'"';
            out.append(before_quote ? backslashes / 2 : backslashes, L'\\');
            if (before_quote && backslashes % 2 == 1) {
                out.push_back(L'"');
                ++i;
            }
        } else if (line[i] == L'"') {
            if (quoted && i + 1 < line.size() && line[i + 1] == L'"') {
                out.push_back(L'"');
                i += 2;
            } else {
                quoted = !quoted;
                ++i;
            }
        } else {
            out.push_back(line[i++]);
        }
    }
    return i;
}

} // namespace

std::vector<std::wstring> split_command_line(std::wstring_view command_line) {
    std::vector<std::wstring> arguments(1);
    std::size_t i = take_program_path(command_line, arguments.front());
    while (true) {
        i = command_line.find_first_not_of(L" \t", i);
        if (i == command_line.npos) {
            return arguments;
        }
        i = take_argument(command_line, i, arguments.emplace_back());
    }
}

std::wstring quote_argument(std::wstring_view argument) {
    const bool needs_quotes = argument.empty() || argument.find_first_of(L" \t") != argument.npos;
    std::wstring out(needs_quotes ? L"\"" : L"");
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows; then each one must be doubled and
        // the quote escaped.
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        out.push_back(c);
        backslashes = 0;
    }
    // Trailing backslashes would escape the closing quote, so they are doubled only then.
    out.append(needs_quotes ? 2 * backslashes : backslashes, L'\\');
    if (needs_quotes) {
        out.push_back(L'"');
    }
    return out;
}

std::wstring build_command_line(std::wstring_view program_path,
                                const std::vector<std::wstring>& arguments) {
    std::wstring line = L"\"" + std::wstring(program_path) + L"\"";
    for (const auto& argument : arguments) {
        line.push_back(L' ');
        line.append(quote_argument(argument));
    }
    return line;
}

} // namespace watchdog
