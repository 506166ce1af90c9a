// The marker's file: never acted on through a link it is, nor through a link on the way that the
// process's rights make unsafe. Wine makes no reparse points, so links are staged on made-up trees:
// real folders and files, of which the inspection says that one is a link.

#include "marker_file/marker_file.h"

#include "test_files.h"
#include "win/path.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace watchdog {
namespace {

using testing::file_exists;
using testing::read_file;
using testing::short_path_of;
using testing::TempDirectory;
using testing::write_file;

// What the made-up tree pretends: the folder or file at `link` is a link (a junction, or for the
// marker a symbolic link), made by an administrator or not; whatever lies at or under it shows a
// final path elsewhere, as it would through a real link.
struct MadeUpLink {
    std::wstring link;
    std::uint32_t tag = IO_REPARSE_TAG_MOUNT_POINT;
    bool by_administrator = false;
    std::wstring moved; // a folder that shows a final path elsewhere, with no link on the way
};
MadeUpLink made_up;

bool is_at_or_under(std::wstring_view path, const std::wstring& place) {
    return !place.empty() && (names_same_place(path, place) ||
                              (path.size() > place.size() + 4 &&
                               names_same_place(path.substr(0, place.size() + 4), place) &&
                               path[place.size() + 4] == L'\\'));
}

std::expected<OpenedFile, Win32Failure> made_up_inspect(HANDLE handle) {
    auto opened = inspect_file(handle);
    if (!opened) {
        return opened;
    }
    if (names_same_place(opened->final_path, made_up.link)) {
        opened->attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        opened->reparse_tag = made_up.tag;
        opened->made_by_administrator = made_up.by_administrator;
    }
    if (is_at_or_under(opened->final_path, made_up.link) ||
        is_at_or_under(opened->final_path, made_up.moved)) {
        opened->final_path = L"\\\\?\\X:\\elsewhere";
    }
    return opened;
}

struct Tree {
    TempDirectory root;
    std::wstring folder = root.path + L"\\a\\b";
    std::wstring marker = folder + L"\\marker.json";
    std::string bytes = R"({"version":1,"sessionId":"s"})";

    Tree() {
        CreateDirectoryW((root.path + L"\\a").c_str(), nullptr);
        CreateDirectoryW(folder.c_str(), nullptr);
        write_file(marker, bytes);
    }
};

// Each operation on the marker, on a tree with one link, elevated and not: followed as the rules
// say, or refused with nothing read, written, replaced or deleted.
TEST(MarkerLinks, AreFollowedOnlyAsFarAsTheRightsMakeSafe) {
    enum class Link { none, folder_by_user, folder_by_administrator, marker, folder_moved };
    struct Case {
        const char* name;
        Link link;
        bool elevated;
        bool followed;
        std::string_view refusal = {};
    };
    const Case cases[] = {
        {"no link, elevated", Link::none, true, true},
        {"no link", Link::none, false, true},
        {"the user's junction on the way, elevated", Link::folder_by_user, true, false,
         untrusted_link_message},
        {"the user's junction on the way", Link::folder_by_user, false, true},
        {"an administrator's junction on the way, elevated", Link::folder_by_administrator, true,
         true},
        {"an administrator's junction on the way", Link::folder_by_administrator, false, true},
        {"the marker a symbolic link, elevated", Link::marker, true, false, marker_is_link_message},
        {"the marker a symbolic link", Link::marker, false, false, marker_is_link_message},
        {"a folder whose final path differs, no link on the way", Link::folder_moved, true, true},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        Tree tree;
        made_up = {};
        if (row.link == Link::folder_by_user || row.link == Link::folder_by_administrator) {
            made_up.link = tree.root.path + L"\\a";
            made_up.by_administrator = row.link == Link::folder_by_administrator;
        } else if (row.link == Link::marker) {
            made_up.link = tree.marker;
            made_up.tag = IO_REPARSE_TAG_SYMLINK;
        } else if (row.link == Link::folder_moved) {
            made_up.moved = tree.folder;
        }
        const LinkTrust trust{row.elevated, made_up_inspect};
        BoundedWorker worker;

        const auto read = read_session_marker(worker, tree.marker, "s", nullptr, trust);
        EXPECT_EQ(read->verdict,
                  row.followed ? MarkerVerdict::this_session : MarkerVerdict::unreadable);
        EXPECT_EQ(read->failure, row.followed
                                     ? std::string()
                                     : std::string(read_failed_prefix) + std::string(row.refusal));

        const std::string rewritten = R"({"version":1,"sessionId":"s","taskbar":null})";
        const auto written = write_marker_file(tree.marker, rewritten, MarkerWrite::rewrite, trust);
        EXPECT_EQ(written.has_value(), row.followed);
        EXPECT_EQ(read_file(tree.marker), row.followed ? rewritten : tree.bytes);

        const auto deleted = delete_marker_file(
            worker, tree.marker, [](std::string_view) { return true; }, trust);
        EXPECT_EQ(deleted.has_value(), row.followed);
        EXPECT_EQ(file_exists(tree.marker), !row.followed);
        if (!row.followed) {
            EXPECT_EQ(deleted.error(), row.refusal);
        }
    }
}

// A folder created for a first marker behind the user's junction would be created wherever the
// junction points: an elevated process creates nothing there.
TEST(MarkerLinks, NothingIsCreatedBehindAnUntrustedLink) {
    Tree tree;
    made_up = {.link = tree.root.path + L"\\a"};
    const std::wstring marker = tree.folder + L"\\new\\marker.json";
    const auto written =
        write_marker_file(marker, tree.bytes, MarkerWrite::first, {true, made_up_inspect});
    ASSERT_FALSE(written.has_value());
    EXPECT_EQ(written.error(), untrusted_link_message);
    EXPECT_FALSE(file_exists(tree.folder + L"\\new"));
}

// The library writes a fresh file and renames it into place: a marker with a second name is
// never its own, and is neither read, rewritten nor deleted.
TEST(MarkerLinks, AMarkerWithASecondNameIsRefused) {
    Tree tree;
    const std::wstring second = tree.root.path + L"\\second name.json";
    ASSERT_TRUE(CreateHardLinkW(second.c_str(), tree.marker.c_str(), nullptr));
    BoundedWorker worker;
    const auto read = read_session_marker(worker, tree.marker, "s");
    EXPECT_EQ(read->verdict, MarkerVerdict::unreadable);
    EXPECT_FALSE(write_marker_file(tree.marker, "{}", MarkerWrite::rewrite).has_value());
    EXPECT_FALSE(delete_marker_file(worker, tree.marker, [](std::string_view) { return true; }));
    EXPECT_EQ(read_file(second), tree.bytes);
    EXPECT_EQ(read_file(tree.marker), tree.bytes);
}

// Only "not found" is no marker; any other failure is a marker that cannot be read now, and one
// whose attributes cannot be had is told apart from one that cannot be read.
TEST(MarkerLook, OnlyNotFoundIsAbsence) {
    Tree tree;
    struct Case {
        const char* name;
        std::wstring path;
        DWORD sharing; // of a handle held open on the marker meanwhile, when it is not 7
        MarkerVerdict verdict;
    };
    const Case cases[] = {
        {"there", tree.marker, 7, MarkerVerdict::this_session},
        {"no file", tree.folder + L"\\gone.json", 7, MarkerVerdict::absent},
        {"no folder", tree.folder + L"\\gone\\deeper\\marker.json", 7, MarkerVerdict::absent},
        {"held open without sharing", tree.marker, 0, MarkerVerdict::unreadable},
        {"a folder in its place", tree.folder, 7, MarkerVerdict::unreadable},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        const UniqueHandle holder(row.sharing != 7
                                      ? CreateFileW(tree.marker.c_str(), GENERIC_READ, row.sharing,
                                                    nullptr, OPEN_EXISTING, 0, nullptr)
                                      : nullptr);
        BoundedWorker worker;
        EXPECT_EQ(read_session_marker(worker, row.path, "s")->verdict, row.verdict);
    }
}

// Every name of one marker gives one identity: its short (8.3) name, a relative form, another
// letter case.
TEST(MarkerIdentity, IsOneForEveryNameOfTheMarker) {
    TempDirectory root;
    const std::wstring folder = root.path + L"\\a rather long folder name";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring marker = folder + L"\\recovery marker.json";
    write_file(marker, "{}");
    const std::wstring short_name = short_path_of(marker);
    ASSERT_FALSE(short_name.empty());
    ASSERT_NE(short_name, marker) << "no short names here";
    const std::wstring identity = marker_identity(marker);
    EXPECT_EQ(marker_identity(short_name), identity);
    EXPECT_EQ(marker_identity(folder + L"\\.\\RECOVERY MARKER.JSON"), identity);
    BoundedWorker worker;
    EXPECT_EQ(read_session_marker(worker, short_name, std::nullopt)->identity, identity);
    EXPECT_NE(marker_identity(folder + L"\\other.json"), identity);

    // A folder not made yet is named as it will be once it is made.
    const std::wstring short_folder = short_path_of(folder);
    const std::wstring before = marker_identity(short_folder + L"\\not yet\\m.json");
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\not yet").c_str(), nullptr));
    EXPECT_EQ(marker_identity(folder + L"\\not yet\\m.json"), before);
}

} // namespace
} // namespace watchdog
