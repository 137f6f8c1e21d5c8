#include "util/browser.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> g_shellOpened;

int RecordShellOpen(const std::string& address) {
    g_shellOpened.push_back(address);
    return 1;
}

// A whole fake desktop under one temporary folder: the XDG folders, PATH,
// and programs that write down how they were started. No real browser and
// no real xdg-open can be reached.
class Browser : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/movenna_browser_XXXXXX";  // no '-' or '%' of its own: the cut must not hit it
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
        for (const char* name : kVars) {
            const char* v = std::getenv(name);
            saved[name] = v ? std::optional<std::string>(v) : std::nullopt;
        }
        setenv("HOME", (root + "/home").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        setenv("XDG_CONFIG_DIRS", (root + "/etcxdg").c_str(), 1);
        setenv("XDG_DATA_HOME", (root + "/datahome").c_str(), 1);
        setenv("XDG_DATA_DIRS", (root + "/share1:" + root + "/share2").c_str(), 1);
        setenv("PATH", (root + "/bin:/usr/bin:/bin").c_str(), 1);
        unsetenv("XDG_CURRENT_DESKTOP");
        g_shellOpened.clear();
        previousHook = SetShellOpenVerb(RecordShellOpen);
        MakeRecorder("bin/fakebrowser");
        MakeRecorder("bin/xdg-open");
    }
    void TearDown() override {
        SetShellOpenVerb(previousHook);
        for (const auto& [name, value] : saved) {
            if (value) setenv(name.c_str(), value->c_str(), 1);
            else unsetenv(name.c_str());
        }
        ASSERT_EQ(std::system(("rm -rf '" + root + "'").c_str()), 0);
    }

    void Write(const std::string& relative, const std::string& text) {
        const std::string path = root + "/" + relative;
        ASSERT_EQ(std::system(("mkdir -p '" + path.substr(0, path.rfind('/')) + "'").c_str()), 0);
        std::ofstream(path) << text;
    }
    // A program that writes its own path and each argument on a line of
    // record/<its name>, complete or not at all.
    void MakeRecorder(const std::string& relative) {
        const std::string name = relative.substr(relative.rfind('/') + 1);
        const std::string out = root + "/record/" + name;
        Write(relative, "#!/bin/sh\n{ printf '%s\\n' \"$0\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > '" +
                            out + ".tmp' && mv '" + out + ".tmp' '" + out + "'\n");
        ASSERT_EQ(chmod((root + "/" + relative).c_str(), 0755), 0);
        mkdir((root + "/record").c_str(), 0755);
    }
    // The lines a recorder wrote; waits for the started program to finish.
    std::vector<std::string> Recorded(const std::string& name) {
        const std::string path = root + "/record/" + name;
        for (int i = 0; i < 1000 && access(path.c_str(), F_OK) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream in(path);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    bool WasStarted(const std::string& name) const { return access((root + "/record/" + name).c_str(), F_OK) == 0; }

    void SetDefault(const std::string& list, const std::string& ids) {
        Write(list, "[Added Associations]\nx-scheme-handler/http=other.desktop;\n\n[Default Applications]\n"
                    "text/html=other.desktop\nx-scheme-handler/http=" + ids + "\n");
    }
    void Desktop(const std::string& relative, const std::string& exec, const std::string& extra = "") {
        Write(relative, "[Desktop Entry]\nType=Application\nName=Web\n" + extra + "Exec=" + exec +
                            "\n\n[Desktop Action new-window]\nExec=wrong %u\n");
    }
    std::string Command() {
        std::string command = "stale";
        const char first = DefaultBrowserCommand(command);
        EXPECT_EQ(first, command.empty() ? 0 : command[0]);
        return command;
    }

    static constexpr const char* kVars[] = {"HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME",
                                            "XDG_DATA_DIRS", "PATH", "XDG_CURRENT_DESKTOP"};
    std::map<std::string, std::optional<std::string>> saved;
    std::string root;
    ShellOpenVerbFunction previousHook = nullptr;
};

}  // namespace

TEST_F(Browser, TheCommandIsTheExecLineCutAtTheFirstPercentOrHyphen) {
    SetDefault("config/mimeapps.list", "web.desktop;");
    struct Case {
        std::string exec;
        std::string command;
    };
    const Case cases[] = {
        {"fakebrowser %u", "fakebrowser"},
        {"/opt/web/browser --new-window %U", "/opt/web/browser"},
        {"\"/opt/My Web/browser\" %u", "\"/opt/My Web/browser\""},
        // A hyphen or percent sign inside the program path cuts the path.
        {"/usr/lib/firefox-esr/firefox-esr %u", "/usr/lib/firefox"},
        {"/opt/100%web/run %u", "/opt/100"},
        {"env WEB=1 browser", "env WEB=1 browser"},
        {"browser\\s\\s%u", "browser"},  // escaped spaces of the file format
        {"%u", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exec);
        Desktop("datahome/applications/web.desktop", c.exec);
        EXPECT_EQ(Command(), c.command);
    }
}

TEST_F(Browser, TheDefaultHandlerIsFoundInTheXdgOrder) {
    struct File {
        std::string path;
        std::string text;
    };
    const std::string dflt = "[Default Applications]\nx-scheme-handler/http=";
    struct Case {
        const char* what;
        std::vector<File> files;
        std::string command;
    };
    const Case cases[] = {
        {"user config first",
         {{"config/mimeapps.list", dflt + "a.desktop\n"}, {"etcxdg/mimeapps.list", dflt + "b.desktop\n"}},
         "prog-a"},
        {"system config next",
         {{"etcxdg/mimeapps.list", dflt + "b.desktop\n"}, {"share1/applications/mimeapps.list", dflt + "c.desktop\n"}},
         "prog-b"},
        {"data folders' lists",
         {{"share2/applications/mimeapps.list", dflt + "c.desktop\n"}, {"share1/applications/defaults.list", dflt + "a.desktop\n"}},
         "prog-c"},
        {"defaults.list",
         {{"share2/applications/defaults.list", dflt + "a.desktop\n"},
          {"share1/applications/mimeinfo.cache", "[MIME Cache]\nx-scheme-handler/http=b.desktop;\n"}},
         "prog-a"},
        {"mimeinfo.cache last", {{"share1/applications/mimeinfo.cache", "[MIME Cache]\nx-scheme-handler/http=b.desktop;c.desktop;\n"}},
         "prog-b"},
        {"uninstalled and hidden entries are passed over",
         {{"config/mimeapps.list", dflt + "gone.desktop;hidden.desktop;../c.desktop;c.desktop;a.desktop\n"}},
         "prog-c"},
        {"nothing installed", {{"config/mimeapps.list", dflt + "gone.desktop\n"}}, ""},
        {"another type only", {{"config/mimeapps.list", "[Default Applications]\nx-scheme-handler/https=a.desktop\n"}}, ""},
        {"the key outside its group", {{"config/mimeapps.list", "x-scheme-handler/http=a.desktop\n[Other]\n"}}, ""},
        {"no lists", {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(std::system(("rm -rf '" + root + "/config' '" + root + "/etcxdg' '" + root + "/share1' '" + root +
                               "/share2' '" + root + "/datahome'").c_str()),
                  0);
        Desktop("share1/applications/a.desktop", "prog-a %u");
        Desktop("share2/applications/b.desktop", "prog-b %u");
        Desktop("datahome/applications/c.desktop", "prog-c %u");
        Desktop("share1/applications/hidden.desktop", "prog-hidden %u", "Hidden=true\n");
        for (const File& f : c.files) Write(f.path, f.text);
        // The cut stops at the '-' of the program names: compare the Exec lines instead.
        std::string exec;
        DefaultHandlerDesktopFile("x-scheme-handler/http", exec);
        EXPECT_EQ(exec, c.command.empty() ? "" : c.command + " %u");
    }
}

TEST_F(Browser, ADesktopListAndNestedDesktopIdsAreHonoured) {
    setenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME", 1);
    Desktop("share1/applications/vendor/web.desktop", "nested %u");
    Desktop("share1/applications/a.desktop", "plain %u");
    SetDefault("config/mimeapps.list", "a.desktop");
    SetDefault("config/gnome-mimeapps.list", "vendor-web.desktop");
    EXPECT_EQ(Command(), "nested");
    // Without XDG_CONFIG_HOME the user's list is ~/.config/mimeapps.list.
    setenv("XDG_CONFIG_HOME", "", 1);
    unsetenv("XDG_CURRENT_DESKTOP");
    SetDefault("home/.config/mimeapps.list", "vendor-web.desktop");
    EXPECT_EQ(Command(), "nested");
}

TEST_F(Browser, OpensTheAddressAsOneArgumentWithoutAShell) {
    SetDefault("config/mimeapps.list", "web.desktop");
    Desktop("share1/applications/web.desktop", "fakebrowser %u");
    const std::string address = "https://movenna.org/download?a=1&b='2' ;touch x $(id)";
    EXPECT_EQ(OpenUrlInBrowser(address), 1);
    EXPECT_EQ(Recorded("fakebrowser"), (std::vector<std::string>{root + "/bin/fakebrowser", address}));
    EXPECT_TRUE(g_shellOpened.empty());
}

TEST_F(Browser, AProgramPathCutAtItsHyphenIsWhatGetsStarted) {
    SetDefault("config/mimeapps.list", "web.desktop");
    Desktop("share1/applications/web.desktop", root + "/bin/fakebrowser-stable --incognito %U");
    EXPECT_EQ(OpenUrlInBrowser("https://movenna.org/"), 1);
    EXPECT_EQ(Recorded("fakebrowser"), (std::vector<std::string>{root + "/bin/fakebrowser", "https://movenna.org/"}));
}

TEST_F(Browser, AQuotedProgramPathWithSpacesAndItsOptions) {
    MakeRecorder("My Apps/fakebrowser");
    SetDefault("config/mimeapps.list", "web.desktop");
    Desktop("share1/applications/web.desktop", "\"" + root + "/My Apps/fakebrowser\" %u");
    EXPECT_EQ(LaunchWithArgument("\"" + root + "/My Apps/fakebrowser\" new window", "x"), 1);
    EXPECT_EQ(Recorded("fakebrowser"), (std::vector<std::string>{root + "/My Apps/fakebrowser", "new", "window", "x"}));
}

TEST_F(Browser, ALongAddressGoesToTheShellOpenFunction) {
    const std::string command = "fakebrowser";
    const std::string fits(kBrowserLineMax - command.size() - 1, 'a');
    EXPECT_EQ(LaunchWithArgument(command, fits + "b"), 1);
    EXPECT_EQ(g_shellOpened, std::vector<std::string>{fits + "b"});
    EXPECT_FALSE(WasStarted("fakebrowser"));

    // At exactly the limit the browser command still takes it.
    EXPECT_EQ(LaunchWithArgument(command, fits), 1);
    EXPECT_EQ(Recorded("fakebrowser").at(1), fits);
    EXPECT_EQ(g_shellOpened.size(), 1u);
}

TEST_F(Browser, FallsBackToTheDesktopWhenTheCutCommandCannotStart) {
    // No handler at all: nothing else is tried.
    EXPECT_EQ(OpenUrlInBrowser("https://movenna.org/"), 0);
    EXPECT_TRUE(g_shellOpened.empty());

    SetDefault("config/mimeapps.list", "web.desktop");
    Desktop("share1/applications/web.desktop", "/usr/lib/firefox-esr/firefox-esr %u");
    EXPECT_EQ(LaunchWithArgument("/usr/lib/firefox", "https://movenna.org/"), 0);
    EXPECT_EQ(OpenUrlInBrowser("https://movenna.org/"), 1);
    EXPECT_EQ(g_shellOpened, std::vector<std::string>{"https://movenna.org/"});
    EXPECT_EQ(LaunchWithArgument("nosuchbrowser", "x"), 0);
    EXPECT_EQ(LaunchWithArgument("\"unclosed", "x"), 0);
    EXPECT_EQ(LaunchWithArgument("", "x"), 0);
}

TEST_F(Browser, TheDefaultShellOpenStartsXdgOpen) {
    SetShellOpenVerb(nullptr);
    EXPECT_EQ(ShellOpenVerbCall("https://movenna.org/a b"), 1);
    EXPECT_EQ(Recorded("xdg-open"), (std::vector<std::string>{root + "/bin/xdg-open", "https://movenna.org/a b"}));
    EXPECT_EQ(XdgOpenVerb(""), 0);
    setenv("PATH", (root + "/nothing").c_str(), 1);
    EXPECT_EQ(XdgOpenVerb("https://movenna.org/"), 0);
}

TEST(CommandWords, SplitAsADesktopExecLine) {
    struct Case {
        std::string command;
        bool ok;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"browser", true, {"browser"}},
        {"  a   b\tc ", true, {"a", "b", "c"}},
        {"\"/opt/My Web/b\" -x", true, {"/opt/My Web/b", "-x"}},
        {"\"say \\\"hi\\\" \\$HOME \\\\\"", true, {"say \"hi\" $HOME \\"}},
        {"'single quoted' x", true, {"single quoted", "x"}},
        {"a\\ b", true, {"a b"}},
        {"\"\"", true, {""}},
        {"", true, {}},
        {"\"open", false, {}},
        {"'open", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        std::vector<std::string> words{"stale"};
        EXPECT_EQ(SplitCommandWords(c.command, words), c.ok);
        if (c.ok) {
            EXPECT_EQ(words, c.words);
        }
    }
}

TEST(FindProgramInPath, LooksOnlyInAbsolutePathEntries) {
    const char* old = std::getenv("PATH");
    const std::string saved = old ? old : "";
    setenv("PATH", ".:relative:/bin", 1);
    EXPECT_EQ(FindProgramInPath("sh"), "/bin/sh");
    EXPECT_EQ(FindProgramInPath("./sh"), "./sh");
    EXPECT_EQ(FindProgramInPath("no-such-program-here"), "");
    EXPECT_EQ(FindProgramInPath(""), "");
    setenv("PATH", saved.c_str(), 1);
}
