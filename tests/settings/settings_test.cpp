// The remembered setting on systems without a registry: one file per edition under the
// configuration directory, written atomically.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "settings/posix_store.h"
#include "settings/settings.h"

namespace quillon::settings {
namespace {
namespace fs = std::filesystem;

struct TempDir {
    fs::path path;
    TempDir() {
        std::string t = (fs::temp_directory_path() / "quillon-settings-XXXXXX").string();
        path = mkdtemp(t.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

std::string Slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(Settings, KeyPathsOfTheEditions) {
    EXPECT_EQ(KeyPath(0), "Software\\TAV\\Quillon\\");
    EXPECT_EQ(KeyPath(1), "Software\\Orvanta\\Upgrade\\");
    EXPECT_EQ(KeyPath(2), "Software\\Brannix\\Loader\\");
    EXPECT_EQ(KeyPath(3), KeyPath(0));
    EXPECT_EQ(KeyPath(255), KeyPath(0));
}

TEST(Settings, EachEditionKeepsItsOwnValue) {
    TempDir dir;
    const Store store{dir.path};
    for (std::uint8_t e : {0, 1, 2}) EXPECT_EQ(LoadSetting("com", e, store), "") << int(e);

    SaveSetting("com", "4", 1, store);  // COM5 chosen in the Upgrade edition
    EXPECT_EQ(LoadSetting("com", 1, store), "4");
    EXPECT_EQ(LoadSetting("com", 0, store), "");
    EXPECT_EQ(LoadSetting("com", 2, store), "");

    SaveSetting("com", "-1", 2, store);
    SaveSetting("com", "0", 0, store);
    SaveSetting("com", "2", 0, store);  // replaces
    EXPECT_EQ(LoadSetting("com", 0, store), "2");
    EXPECT_EQ(LoadSetting("com", 1, store), "4");
    EXPECT_EQ(LoadSetting("com", 2, store), "-1");
    EXPECT_EQ(LoadSetting("com", 9, store), "2");  // any other code is the Updater's

    EXPECT_EQ(Slurp(dir.path / "TAV" / "Quillon.conf"), "com=2\n");
    EXPECT_EQ(Slurp(dir.path / "Orvanta" / "Upgrade.conf"), "com=4\n");
    EXPECT_EQ(Slurp(dir.path / "Brannix" / "Loader.conf"), "com=-1\n");
}

TEST(Settings, NamesAndValuesOfAnyShape) {
    TempDir dir;
    const Store store{dir.path};
    SaveSetting("com", "3x", 0, store);
    SaveSetting("other", "a=b\\c\nd\re", 0, store);
    EXPECT_EQ(LoadSetting("COM", 0, store), "3x");  // names compare as the registry does
    EXPECT_EQ(LoadSetting("other", 0, store), "a=b\\c\nd\re");
    SaveSetting("Com", "70000", 0, store);
    EXPECT_EQ(LoadSetting("com", 0, store), "70000");
    EXPECT_EQ(LoadSetting("other", 0, store), "a=b\\c\nd\re");  // the other line kept
    EXPECT_EQ(LoadSetting("missing", 0, store), "");
    SaveSetting("bad=name", "1", 0, store);  // not storable: ignored
    SaveSetting("", "1", 0, store);
    EXPECT_EQ(LoadSetting("bad", 0, store), "");

    // A file edited by hand, with junk and duplicates, still reads.
    const fs::path file = dir.path / "TAV" / "Quillon.conf";
    std::ofstream(file) << "junk line\n=5\ncom= 7\ncom=8\n";
    EXPECT_EQ(LoadSetting("com", 0, store), " 7");
    SaveSetting("com", "9", 0, store);
    EXPECT_EQ(Slurp(file), "junk line\n=5\ncom=9\n");
}

TEST(Settings, TheDefaultPlaceIsTheXdgConfigDirectory) {
    TempDir dir;
    const char* old_xdg = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old_xdg ? old_xdg : "";
    const char* old_home = std::getenv("HOME");
    const std::string saved_home = old_home ? old_home : "";
    setenv("XDG_CONFIG_HOME", dir.path.c_str(), 1);
    EXPECT_EQ(ConfigHome(), dir.path);
    SaveSetting("com", "5", 2);
    EXPECT_EQ(Slurp(dir.path / "Brannix" / "Loader.conf"), "com=5\n");
    EXPECT_EQ(LoadSetting("com", 2), "5");
    // A relative XDG_CONFIG_HOME is ignored, as the XDG rules say.
    setenv("XDG_CONFIG_HOME", "relative/dir", 1);
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(ConfigHome(), fs::path("/home/someone/.config"));
    if (old_xdg)
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    if (old_home)
        setenv("HOME", saved_home.c_str(), 1);
    else
        unsetenv("HOME");
}

TEST(Settings, AnUnwritableStoreIsIgnoredSilently) {
    TempDir dir;
    // Root may write anywhere, so the store is made impossible: its directory is a file.
    const fs::path blocked = dir.path / "file";
    std::ofstream(blocked) << "x";
    const Store store{blocked};
    EXPECT_FALSE(SaveSetting("com", "3", 0, store));
    EXPECT_EQ(StoreSetting("com", "3", 0, store), SavedTo::Nowhere);
    EXPECT_EQ(LoadSetting("com", 0, store), "");
    // A writable store says the value went to its file.
    EXPECT_EQ(StoreSetting("com", "3", 0, Store{dir.path / "ok"}), SavedTo::File);
    EXPECT_EQ(Slurp(blocked), "x");
    EXPECT_FALSE(WriteFileAtomically(blocked / "TAV" / "Quillon.conf", "com=3\n"));
}

TEST(Settings, AWriteReplacesTheFileAndNeverRewritesItInPlace) {
    TempDir dir;
    const Store store{dir.path};
    SaveSetting("com", "1", 0, store);
    const fs::path file = StoreFile(0, store);
    // A reader holding the old file sees it whole after the write: the new content went
    // to another file that was renamed over it.
    std::ifstream held(file);
    SaveSetting("com", "2", 0, store);
    std::string old_line;
    std::getline(held, old_line);
    EXPECT_EQ(old_line, "com=1");
    EXPECT_EQ(LoadSetting("com", 0, store), "2");
    // A temporary file left by a crash is neither read nor in the way.
    std::ofstream(fs::path(file.string() + ".tmp")) << "com=9";
    EXPECT_EQ(LoadSetting("com", 0, store), "2");
    SaveSetting("com", "3", 0, store);
    EXPECT_EQ(LoadSetting("com", 0, store), "3");
    EXPECT_FALSE(fs::exists(file.string() + ".tmp"));
}

TEST(Settings, AProcessKilledWhileWritingLeavesTheOldValueOrTheNew) {
    TempDir dir;
    const Store store{dir.path};
    // Large values make the write long enough for the kill to land inside it.
    const std::string a(300000, 'a'), b(400000, 'b');
    SaveSetting("com", a, 0, store);
    for (int round = 0; round < 5; ++round) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            close(ready[0]);
            for (int i = 0;; ++i) {
                SaveSetting("com", i % 2 ? a : b, 0, store);
                if (i == round) (void)!write(ready[1], "r", 1);
            }
        }
        close(ready[1]);
        char c;
        ASSERT_EQ(read(ready[0], &c, 1), 1);
        close(ready[0]);
        for (int k = 0; k < round; ++k) {  // reads while it writes
            const std::string v = LoadSetting("com", 0, store);
            EXPECT_TRUE(v == a || v == b) << "torn read of " << v.size() << " bytes";
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        const std::string v = LoadSetting("com", 0, store);
        EXPECT_TRUE(v == a || v == b) << "broken after a kill: " << v.size() << " bytes";
    }
}

}  // namespace
}  // namespace quillon::settings
