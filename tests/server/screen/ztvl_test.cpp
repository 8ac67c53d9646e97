// The server's control of the screen source, with the synthetic source as a
// real child process.
#include "server/screen/ztvl.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <vector>

#include "mirror/syntheticscene.h"
#include "platform/tick.h"

namespace velmora {
namespace {

bool WaitFor(const std::function<bool()>& done, uint32_t limitMs = 10000) {
    const uint32_t begin = Tick();
    while (!done()) {
        if (TickSince(begin) > limitMs) return false;
        SleepMs(5);
    }
    return true;
}

// True when pid is neither running nor a zombie waiting to be reaped.
bool Gone(pid_t pid) {
    return kill(pid, 0) != 0 && errno == ESRCH;
}

class ZtvlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/velmora-ztvl-XXXXXX";
        dir_ = mkdtemp(name);
    }
    void TearDown() override { (void)!std::system(("rm -rf " + dir_).c_str()); }

    ZTVL::Options Synthetic(std::vector<std::string> extra = {}) const {
        ZTVL::Options o;
        o.arguments = {"--source", "synthetic", "--scene", "typing",
                       "--size",   "320x200",   "--rate",  "100"};
        o.arguments.insert(o.arguments.end(), extra.begin(), extra.end());
        o.directory = dir_;
        return o;
    }
    std::string ScreenPath() const { return dir_ + "/ZTVLSHARE.DAT"; }

    std::string dir_;
};

TEST_F(ZtvlTest, AttachMapScanAndDetachDriveTheSyntheticSource) {
    ZTVL ztvl(Synthetic());
    EXPECT_EQ(ztvl.MapFiles(), ZTVL::kNotAttached);
    ASSERT_EQ(ztvl.Attach(), ZTVL::kOk) << ztvl.LastError();
    const pid_t pid = ztvl.SourcePid();
    ASSERT_GT(pid, 0);
    ASSERT_EQ(ztvl.MapFiles(), ZTVL::kOk) << ztvl.LastError();
    EXPECT_EQ(ztvl.Width(), 320);
    EXPECT_EQ(ztvl.Height(), 200);
    EXPECT_EQ(ztvl.Stride(), 1280u);
    EXPECT_EQ(ztvl.Grid().Count(), 6 * 4);

    // Not sharing yet: the scan reports nothing.
    int32_t list[64];
    EXPECT_EQ(ztvl.Sharing(), 0u);
    EXPECT_EQ(ztvl.ScanChangedBlocks(list, 64), 0);
    ASSERT_EQ(ztvl.SetSharing(1), ZTVL::kOk);
    EXPECT_EQ(ztvl.Sharing(), 1u);
    // The first scans see the whole first frame against the zeroed
    // reference; typing then keeps finding the text's blocks.
    int found = 0;
    EXPECT_TRUE(WaitFor([&] { return (found += ztvl.ScanChangedBlocks(list, 64)) > 24; }));
    for (int k = 0; k < 16; ++k) (void)ztvl.ScanChangedBlocks(list, 64);
    const std::vector<uint8_t> reference(ztvl.Reference(), ztvl.Reference() + 1280 * 200);

    POINTERFILE_HEADER pointer;
    ASSERT_TRUE(ztvl.ReadPointerHeader(&pointer));
    EXPECT_EQ(pointer.colour.get(), 1u);
    EXPECT_EQ(pointer.format.get(), 6u);
    POINTERFILE_HEADER again;
    ASSERT_TRUE(ztvl.ReadPointerHeader(&again));
    EXPECT_EQ(again.shapeChanged.get(), 0u) << "reading the header clears its flags";
    std::vector<uint8_t> bits(pointer.firstSize.get() + pointer.maskSize.get());
    EXPECT_EQ(ztvl.ReadPointerBits(bits.data(), bits.size()), int(bits.size()));
    std::vector<uint8_t> tooMany(65536 * 4 + 1);
    EXPECT_EQ(ztvl.ReadPointerBits(tooMany.data(), tooMany.size()), ZTVL::kFailed);

    EXPECT_EQ(ztvl.Detach(), ZTVL::kOk);
    EXPECT_TRUE(Gone(pid)) << "the source is stopped and reaped, no zombie";
    EXPECT_EQ(ztvl.Sharing(), 0u);
    EXPECT_EQ(ztvl.ScanChangedBlocks(list, 64), 0);
    // The source's own exit cleared the field in the file.
    SCREENFILE_HEADER header;
    const int fd = open(ScreenPath().c_str(), O_RDONLY);
    ASSERT_EQ(pread(fd, &header, sizeof header, 0), ssize_t(sizeof header));
    close(fd);
    EXPECT_EQ(header.sharing.get(), 0u);
    EXPECT_EQ(header.signature.get(), 100u);
}

TEST_F(ZtvlTest, AttachFailsWithMinusOneWhenNoSourceProgramExists) {
    ZTVL::Options o = Synthetic();
    o.program = "ZTVL-not-installed";
    ZTVL ztvl(o);
    EXPECT_EQ(ztvl.Attach(), ZTVL::kNotFound);
    EXPECT_FALSE(ztvl.Attached());
    EXPECT_NE(ztvl.LastError().find("ZTVL-not-installed"), std::string::npos);
    EXPECT_EQ(ztvl.MapFiles(), ZTVL::kNotAttached);
    EXPECT_EQ(ztvl.SetSharing(1), ZTVL::kFailed);
}

TEST_F(ZtvlTest, AProgramThatIsNotASourceOrFailsToStartIsReportedAndReaped) {
    struct Case {
        const char* name;
        std::string program;
        std::vector<std::string> arguments;
    };
    const Case cases[] = {
        {"not a source", "/bin/echo", {}},
        {"refuses its arguments", "ZTVL", {"--scene", "video"}},
        {"no display", "ZTVL", {"--source", "x11", "--display", ":99999"}},
    };
    for (const Case& c : cases) {
        ZTVL::Options o;
        o.program = c.program;
        o.arguments = c.arguments;
        o.directory = dir_;
        ZTVL ztvl(o);
        EXPECT_EQ(ztvl.Attach(), ZTVL::kSourceFailed) << c.name;
        EXPECT_FALSE(ztvl.LastError().empty()) << c.name;
        EXPECT_EQ(ztvl.SourcePid(), 0) << c.name;
        EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << c.name << ": a child is left unreaped";
    }
}

TEST_F(ZtvlTest, ASourceThatDiesMakesSharingZeroAndAttachStartsItAgain) {
    ZTVL ztvl(Synthetic());
    ASSERT_EQ(ztvl.Attach(), ZTVL::kOk);
    ASSERT_EQ(ztvl.MapFiles(), ZTVL::kOk);
    ASSERT_EQ(ztvl.SetSharing(1), ZTVL::kOk);
    const pid_t first = ztvl.SourcePid();
    kill(first, SIGKILL);  // it cannot clear sharing itself
    EXPECT_TRUE(WaitFor([&] { return ztvl.Sharing() == 0; }));
    EXPECT_TRUE(Gone(first));

    ASSERT_EQ(ztvl.Attach(), ZTVL::kOk);
    EXPECT_NE(ztvl.SourcePid(), first);
    // A source of the same size reuses the file, so the mapping lives on.
    EXPECT_FALSE(ztvl.NeedsRemap());
    ASSERT_EQ(ztvl.SetSharing(1), ZTVL::kOk);
    EXPECT_EQ(ztvl.Sharing(), 1u);
    int32_t list[64];
    EXPECT_TRUE(WaitFor([&] { return ztvl.ScanChangedBlocks(list, 64) > 0; }));
}

TEST_F(ZtvlTest, AModeSwitchIsSeenAsSharingZeroAndARemapBuildsTheNewGrid) {
    ZTVL ztvl(Synthetic({"--rate", "5", "--mode-switch", "3:640x480"}));
    ASSERT_EQ(ztvl.Attach(), ZTVL::kOk);
    ASSERT_EQ(ztvl.MapFiles(), ZTVL::kOk);
    ASSERT_EQ(ztvl.SetSharing(1), ZTVL::kOk);
    EXPECT_EQ(ztvl.Grid().Count(), 24);
    ASSERT_TRUE(WaitFor([&] { return ztvl.Sharing() == 0; }));
    // The source clears sharing in the old file first, then puts the new
    // file in place.
    ASSERT_TRUE(WaitFor([&] { return ztvl.NeedsRemap(); }));
    ASSERT_EQ(ztvl.ReattachAndRemap(), ZTVL::kOk);
    EXPECT_EQ(ztvl.Width(), 640);
    EXPECT_EQ(ztvl.Height(), 480);
    EXPECT_EQ(ztvl.Grid().Count(), 12 * 9);
    EXPECT_FALSE(ztvl.NeedsRemap());
    ASSERT_EQ(ztvl.SetSharing(1), ZTVL::kOk);
    EXPECT_EQ(ztvl.Sharing(), 1u);
}

// Files that do not hold what their header claims are refused before
// anything is read from them.
TEST_F(ZtvlTest, MapRefusesScreenFilesWhoseHeaderDoesNotFitAndMissingFiles) {
    struct Case {
        const char* name;
        std::function<void(const std::string& dir)> damage;
        int expected;
    };
    const auto patch = [](const std::string& path, off_t at, uint32_t value) {
        const int fd = open(path.c_str(), O_WRONLY);
        uint8_t bytes[4];
        StoreLe<uint32_t>(bytes, value);
        (void)!pwrite(fd, bytes, 4, at);
        close(fd);
    };
    const Case cases[] = {
        {"width beyond the file",
         [&](const std::string& d) { patch(d + "/ZTVLSHARE.DAT", 4, 322); },
         ZTVL::kScreenHeaderRefused},
        {"height beyond the file",
         [&](const std::string& d) { patch(d + "/ZTVLSHARE.DAT", 8, 0x10000); },
         ZTVL::kScreenHeaderRefused},
        {"zero width", [&](const std::string& d) { patch(d + "/ZTVLSHARE.DAT", 4, 0); },
         ZTVL::kScreenHeaderRefused},
        {"16 bits per pixel", [&](const std::string& d) { patch(d + "/ZTVLSHARE.DAT", 12, 16); },
         ZTVL::kScreenHeaderRefused},
        {"file cut short",
         [](const std::string& d) { (void)!truncate((d + "/ZTVLSHARE.DAT").c_str(), 1000); },
         ZTVL::kScreenHeaderRefused},
        {"no screen file", [](const std::string& d) { unlink((d + "/ZTVLSHARE.DAT").c_str()); },
         ZTVL::kScreenFileUnopened},
        {"no pointer file", [](const std::string& d) { unlink((d + "/ZTVLSHAREP.DAT").c_str()); },
         ZTVL::kPointerFileUnopened},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The source draws once and then waits, so nothing rewrites the damage.
        ZTVL ztvl(Synthetic({"--frames", "0"}));
        ASSERT_EQ(ztvl.Attach(), ZTVL::kOk);
        c.damage(dir_);
        EXPECT_EQ(ztvl.MapFiles(), c.expected);
        EXPECT_FALSE(ztvl.Mapped());
        EXPECT_EQ(ztvl.FrameBuffer(), nullptr);
        EXPECT_EQ(ztvl.Grid().Count(), 0);
        int32_t list[8];
        EXPECT_EQ(ztvl.ScanChangedBlocks(list, 8), 0);
        EXPECT_EQ(ztvl.Detach(), ZTVL::kOk);
    }
}

}  // namespace
}  // namespace velmora
