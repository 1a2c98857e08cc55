// Closes the real executable's main window in the middle of a run, as a user would, and
// checks that the program ends by itself: exit code 0, the remembered port written, the
// single-instance guard free for the next start. The device is a pseudo-terminal that
// never answers (a search) or devsim answering slowly (programming).
#include <gtest/gtest.h>
#include <pty.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/build_stamp.h"
#include "edition/edition.h"
#include "settings/posix_store.h"
#include "tests/app/traced_program.h"
#include "tests/support/devsim_process.h"

namespace quillon::app {
namespace {
namespace fs = std::filesystem;

class CloseDuringRun : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/quillon-close-XXXXXX";
        home_ = ::mkdtemp(tmpl);
        fs::create_directories(home_ / "ports");
        settings::Store store{home_ / ".config"};
        ASSERT_TRUE(settings::WriteFileAtomically(settings::StoreFile(edition_code(), store),
                                                  "com=4\n"));  // COM5
    }
    void TearDown() override { fs::remove_all(home_); }

    std::uint8_t edition_code() const {
        return editions::Code(editions::FromLabel(ProductLabel()));
    }
    std::string window() const {
        return std::string(
            editions::WindowName(editions::Of(editions::FromLabel(ProductLabel())).window));
    }
    void PinCom5(const std::string& device) {
        fs::remove(home_ / "ports" / "COM5");
        fs::create_symlink(device, home_ / "ports" / "COM5");
    }
    std::string Stored() const {
        std::ifstream in(settings::StoreFile(edition_code(), settings::Store{home_ / ".config"}));
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::unique_ptr<TracedProgram> Start() {
        return std::make_unique<TracedProgram>(
            home_.string(),
            std::vector<std::string>{"QUILLON_PORTS_DIR=" + (home_ / "ports").string()});
    }

    // Starts an update, waits for `moment` in the trace, closes the main window there and
    // checks how the program ends.
    void CloseAt(const std::string& moment) {
        auto p = Start();
        ASSERT_FALSE(p->TraceUntil("running").empty());
        ASSERT_TRUE(p->Say("click " + window() + " Button1"));
        ASSERT_FALSE(p->TraceUntil(moment).empty()) << "the run never reached " << moment;
        ASSERT_TRUE(p->Say("close " + window()));
        const auto end = p->TraceUntil("ending");
        ASSERT_FALSE(end.empty()) << "the program did not end after the close";
        EXPECT_EQ(end.front(), "close");
        EXPECT_EQ(p->Exit(), 0);
        EXPECT_EQ(Stored(), "com=4\n");

        // The guard is free: the next start runs.
        auto next = Start();
        const auto again = next->TraceUntil("running");
        ASSERT_FALSE(again.empty());
        EXPECT_EQ(again.front(), "guard taken");
    }

    fs::path home_;
};

TEST_F(CloseDuringRun, SearchOnASilentLine) {
    int master = -1, slave = -1;
    char name[128] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::close(slave);  // nobody else holds the line open
    PinCom5(name);
    CloseAt("update");
    ::close(master);
}

TEST_F(CloseDuringRun, Programming) {
    const std::vector<std::vector<std::string>> devices = {
        {"--delay-us", "20000"},  // 20 ms before every answer: half a minute of blocks
        // The wait for the extended block, which does not listen to Stop.
        {"--bios", "8", "--ext-text", "BOARD", "--ext-delay-ms", "1200"},
    };
    for (const auto& args : devices) {
        devsim::DevsimProcess device(args);
        ASSERT_FALSE(device.path().empty());
        PinCom5(device.path());
        CloseAt("session");
    }
}

}  // namespace
}  // namespace quillon::app
