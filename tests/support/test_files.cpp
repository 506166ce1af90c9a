#include "test_files.h"

#include "win/unique_resource.h"

#include <windows.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace watchdog::testing {

TempDirectory::TempDirectory() {
    static std::atomic<unsigned> counter{0};
    std::vector<wchar_t> base(MAX_PATH + 1);
    GetTempPathW(static_cast<DWORD>(base.size()), base.data());
    path = std::wstring(base.data()) + L"watchdog-test-" + std::to_wstring(GetCurrentProcessId()) +
           L"-" + std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(counter++);
    if (!CreateDirectoryW(path.c_str(), nullptr)) {
        throw std::runtime_error("cannot create a temporary folder");
    }
}

TempDirectory::~TempDirectory() {
    remove_tree(path);
}

void remove_tree(const std::wstring& path) {
    WIN32_FIND_DATAW entry{};
    const UniqueFileSearch search(FindFirstFileW((path + L"\\*").c_str(), &entry));
    if (search) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(child);
            } else {
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(search.get(), &entry));
    }
    RemoveDirectoryW(path.c_str());
}

std::optional<std::string> read_file(const std::wstring& path) {
    const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return std::nullopt;
    }
    std::string content;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
        content.append(buffer, read);
    }
    return content;
}

// A watcher that has just started may be reading the very file a test replaces: its read is over
// in moments, so a sharing violation is waited out (for two seconds at most).
void write_file(const std::wstring& path, const std::string& content) {
    const auto create = [&path] {
        return UniqueHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    UniqueHandle file = create();
    for (int waited = 0; !file && GetLastError() == ERROR_SHARING_VIOLATION && waited < 2000;
         waited += 20) {
        Sleep(20);
        file = create();
    }
    if (!file) {
        throw std::runtime_error("cannot write a test file");
    }
    DWORD written = 0;
    const bool ok = WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()),
                              &written, nullptr) &&
                    written == content.size();
    file.reset();
    if (!ok) {
        throw std::runtime_error("short write of a test file");
    }
}

bool file_exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring short_path_of(const std::wstring& path) {
    std::wstring short_path(MAX_PATH, L'\0');
    short_path.resize(GetShortPathNameW(path.c_str(), short_path.data(), MAX_PATH));
    return short_path;
}

std::vector<std::string> log_lines_without_time(const std::wstring& log) {
    std::vector<std::string> lines;
    const std::string content = read_file(log).value_or("");
    std::size_t start = 0;
    for (std::size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = content.substr(start, end - start);
        lines.push_back(line.substr(line.find(' ') + 1));
    }
    return lines;
}

} // namespace watchdog::testing
