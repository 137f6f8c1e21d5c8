#include "util/files.h"

#include "util/textutil.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

bool IsFolder(const std::string& p) {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A fresh folder under /tmp, removed with everything in it afterwards.
class TempFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/movenna-files-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + root + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    std::string root;
};

}  // namespace

TEST(ModuleFilePath, NamesAFileBesideTheExecutable) {
    char real[PATH_MAX];
    ASSERT_NE(realpath(MOVENNA_BIN_DIR, real), nullptr);
    const std::string bin = real;
    EXPECT_EQ(ModuleFilePath("settings.dat"), bin + "/settings.dat");
    // A folder in the given name is ignored.
    EXPECT_EQ(ModuleFilePath("some/where/settings.dat"), bin + "/settings.dat");

    std::string folder;
    EXPECT_EQ(ProgramFolder(folder), 1);
    EXPECT_EQ(folder, bin);
}

TEST(ModuleFilePath, RefusesANameThatMakesThePathTooLong) {
    EXPECT_EQ(ModuleFilePath(std::string(kPathMaxLen, 'n')), "");
}

TEST(PathParentFolder, CutsAtTheLastSeparatorKeepingTheRoot) {
    struct Case {
        const char* path;
        const char* folder;
        int result;
    } cases[] = {
        {"/prog/app", "/prog", 5},
        {"/app", "/", 0},
        {"/", "/", 0},
        {"app", "app", -1},
        {"", "", -1},
        {"/prog/sub/", "/prog/sub", 9},
        {"rel/app", "rel", 3},
    };
    for (const Case& c : cases) {
        std::string out = "old";
        EXPECT_EQ(PathParentFolder(out, c.path), c.result) << c.path;
        EXPECT_EQ(out, c.folder) << c.path;
    }
}

TEST(PathJoin, PutsExactlyOneSeparatorBetween) {
    struct Case {
        const char* folder;
        const char* name;
        const char* joined;
    } cases[] = {
        {"/", "out", "/out"},
        {"/prog/", "/out", "/prog/out"},
        {"/prog", "out", "/prog/out"},
        {"/prog", "/out", "/prog/out"},
        {"/prog/", "out/", "/prog/out/"},
        {"", "out", "out"},
    };
    for (const Case& c : cases) {
        std::string folder = c.folder;
        EXPECT_TRUE(PathJoin(folder, c.name)) << c.folder << " + " << c.name;
        EXPECT_EQ(folder, c.joined);
    }
}

TEST(PathJoin, RefusesAResultLongerThanThePlatformAllows) {
    std::string folder = "/" + std::string(kPathMaxLen - 5, 'f');
    const std::string before = folder;
    EXPECT_FALSE(PathJoin(folder, "abcd"));
    EXPECT_EQ(folder, before);
    EXPECT_TRUE(PathJoin(folder, "abc"));  // exactly kPathMaxLen
    EXPECT_EQ(folder.size(), static_cast<size_t>(kPathMaxLen));
}

TEST_F(TempFolder, CreateFolderTreeMakesEveryMissingLevel) {
    const std::string deep = root + "/a/b/c";
    EXPECT_EQ(CreateFolderTree(deep), 1);
    EXPECT_TRUE(IsFolder(root + "/a/b"));
    EXPECT_TRUE(IsFolder(deep));
    // Existing: nothing to do, still success; a trailing separator is harmless.
    EXPECT_EQ(CreateFolderTree(deep), 1);
    EXPECT_EQ(CreateFolderTree(deep + "/"), 1);
    EXPECT_EQ(CreateFolderTree(root + "/x/y/"), 1);
    EXPECT_TRUE(IsFolder(root + "/x/y"));
    EXPECT_EQ(CreateFolderTree("/"), 1);
}

TEST_F(TempFolder, CreateFolderTreeReportsWhatCannotBeAFolder) {
    const std::string file = root + "/file";
    std::ofstream(file) << "x";
    // A file where a folder is expected is not a folder tree.
    EXPECT_EQ(CreateFolderTree(file), 0);
    EXPECT_EQ(CreateFolderTree(file + "/below"), 0);
    EXPECT_EQ(CreateFolderTree(""), 0);
    EXPECT_EQ(CreateFolderTree(root + "/" + std::string(kPathMaxLen, 'd')), 0);
}

TEST_F(TempFolder, FileExistsForFilesOnly) {
    const std::string file = root + "/clip.mp4";
    std::ofstream(file) << "x";
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FileExists(root));
    EXPECT_FALSE(FileExists(root + "/missing.mp4"));
    EXPECT_FALSE(FileExists(""));
}

TEST_F(TempFolder, CreateFolderTreeWorksOnRelativePaths) {
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(root.c_str()), 0);
    EXPECT_EQ(CreateFolderTree("rel/sub"), 1);
    EXPECT_EQ(chdir(cwd), 0);
    EXPECT_TRUE(IsFolder(root + "/rel/sub"));
}

TEST(WindowSize, ClampsTheWidthAndKeepsFourToThree) {
    struct Case {
        int width;
        int fit;
    } widths[] = {{300, 400}, {400, 400}, {649, 649}, {1600, 1600}, {2000, 1600}, {-5, 400}};
    for (const Case& c : widths) EXPECT_EQ(WindowWidthFit(c.width), c.fit) << c.width;

    struct HCase {
        int width;
        int height;
    } heights[] = {{401, 300}, {1600, 1200}, {649, 486}, {400, 300}, {0, 0}, {2000000000, 1500000000}};
    for (const HCase& c : heights) EXPECT_EQ(WindowHeightForWidth(c.width), c.height) << c.width;
}

TEST(FilterText, GroupsHaveTheDialogLayout) {
    struct Case {
        bool all;
        const char* description;
        const char* extensions;
        const char* text;
    } cases[] = {
        {false, "All Files", "*", "All Files (*.*)|*.*|"},
        {true, "All Files", "*", "All Files|*.*|"},
        {false, "Videos", "avi Mp4,mkv", "Videos (*.avi;*.mp4;*.mkv)|*.AVI;*.MP4;*.MKV|"},
        {true, "All supported files", "avi, mp4", "All supported files|*.AVI;*.MP4|"},
        {false, "Nothing", "", "Nothing ()||"},
        {false, "Spaces", " , avi ,, ", "Spaces (*.avi)|*.AVI|"},
    };
    for (const Case& c : cases) {
        std::string filter;
        if (c.all) {
            FilterAddAll(filter, c.description, c.extensions);
        } else {
            FilterAddGroup(filter, c.description, c.extensions);
        }
        EXPECT_EQ(filter, c.text) << c.description;
    }
}

TEST(FilterText, GroupsAppendToTheText) {
    std::string filter;
    FilterAddAll(filter, "All supported files", "avi mp4");
    FilterAddGroup(filter, "AVI", "avi");
    EXPECT_EQ(filter, "All supported files|*.AVI;*.MP4|AVI (*.avi)|*.AVI|");
}

TEST(FilterText, BecomesQtNameFilters) {
    std::string filter;
    FilterAddAll(filter, "All supported files", "avi mp4");
    FilterAddGroup(filter, "MPEG-4", "mp4 m4v");
    FilterAddGroup(filter, "All Files", "*");
    const std::vector<std::string> want = {
        "All supported files (*.avi *.mp4 *.AVI *.MP4)",
        "MPEG-4 (*.mp4 *.m4v *.MP4 *.M4V)",
        "All Files (*)",
    };
    EXPECT_EQ(FilterToNameFilters(filter), want);

    EXPECT_TRUE(FilterToNameFilters("").empty());
    // A last group without its closing bar still counts.
    EXPECT_EQ(FilterToNameFilters("Text|*.txt"), std::vector<std::string>{"Text (*.txt *.TXT)"});
    EXPECT_EQ(FilterToNameFilters("Nothing ()||"), std::vector<std::string>{"Nothing ()"});
}
