#include "app/paths.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class UserDirs : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/movenna-paths-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
    }
    void TearDown() override { fs::remove_all(root); }
    void WriteDirs(const std::string& text) { std::ofstream(root + "/user-dirs.dirs") << text; }
    std::string root;
};

}  // namespace

TEST_F(UserDirs, VideosFolderFollowsTheDesktopsChoice) {
    struct Case {
        const char* file;  // nullptr: no user-dirs.dirs at all
        const char* expected;
    };
    const Case cases[] = {
        {nullptr, "/home/anna/Videos"},
        {"XDG_VIDEOS_DIR=\"$HOME/Vidéos\"\n", "/home/anna/Vidéos"},
        {"# written by xdg-user-dirs-update\nXDG_MUSIC_DIR=\"$HOME/Music\"\nXDG_VIDEOS_DIR=\"$HOME/Films/\"\n",
         "/home/anna/Films"},
        {"XDG_VIDEOS_DIR=\"/data/video\"\n", "/data/video"},
        // The desktop turned the folder off, or the line is no use: our default.
        {"XDG_VIDEOS_DIR=\"$HOME/\"\n", "/home/anna/Videos"},
        {"XDG_VIDEOS_DIR=\"relative\"\n", "/home/anna/Videos"},
        {"XDG_VIDEOS_DIR=\n", "/home/anna/Videos"},
        {"XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n", "/home/anna/Videos"},
    };
    for (const Case& c : cases) {
        fs::remove(root + "/user-dirs.dirs");
        if (c.file) WriteDirs(c.file);
        EXPECT_EQ(UserVideosFolder("/home/anna", root), c.expected) << (c.file ? c.file : "(no file)");
    }
}

TEST_F(UserDirs, SystemProgramFoldersAreInstalledCopiesEvenForRoot) {
    EXPECT_TRUE(IsInstalledCopy("/usr/bin"));
    EXPECT_TRUE(IsInstalledCopy("/usr/local/bin"));
    EXPECT_FALSE(IsInstalledCopy(root));  // a build folder of ours
    EXPECT_TRUE(IsInstalledCopy(root + "/missing"));
    if (geteuid() != 0) {
        fs::permissions(root, fs::perms::owner_write, fs::perm_options::remove);
        EXPECT_TRUE(IsInstalledCopy(root));
        fs::permissions(root, fs::perms::owner_write, fs::perm_options::add);
    }
}
