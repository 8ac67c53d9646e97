#include "mirror/sharefilewriter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace velmora {
namespace {

class TempDir {
  public:
    TempDir() {
        char name[] = "/tmp/velmora-mirror-XXXXXX";
        path_ = mkdtemp(name);
    }
    ~TempDir() { (void)!std::system(("rm -rf " + path_).c_str()); }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

struct Mapping {
    explicit Mapping(const std::string& path) {
        const int fd = open(path.c_str(), O_RDONLY);
        struct stat st {};
        if (fd >= 0 && fstat(fd, &st) == 0) {
            size = size_t(st.st_size);
            inode = st.st_ino;
            void* p = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
            if (p != MAP_FAILED) bytes = static_cast<const uint8_t*>(p);
        }
        if (fd >= 0) close(fd);
    }
    ~Mapping() {
        if (bytes != nullptr) munmap(const_cast<uint8_t*>(bytes), size);
    }
    const SCREENFILE_HEADER& Screen() const {
        return *reinterpret_cast<const SCREENFILE_HEADER*>(bytes);
    }
    const POINTERFILE_HEADER& Pointer() const {
        return *reinterpret_cast<const POINTERFILE_HEADER*>(bytes);
    }

    const uint8_t* bytes = nullptr;
    size_t size = 0;
    ino_t inode = 0;
};

TEST(ScreenFile, A1024x768ScreenHasTheDesignedFileHeaderAndBottomUpRows) {
    TempDir dir;
    ShareFileWriter writer;
    ASSERT_EQ(writer.Open(dir.Path(), 1024, 768), ShareFileWriter::kOk) << writer.LastError();
    const FrameCanvas canvas = writer.Canvas();
    canvas.Put(0, 767, PackPixel(255, 0, 0));  // bottom-left screen pixel: red
    canvas.Put(1, 767, PackPixel(0, 255, 0));
    canvas.Put(2, 767, PackPixel(0, 0, 255));
    canvas.Put(0, 0, PackPixel(1, 2, 3));  // top-left screen pixel

    Mapping file(dir.Path() + "/ZTVLSHARE.DAT");
    ASSERT_NE(file.bytes, nullptr);
    EXPECT_EQ(file.size, 3148832u);
    EXPECT_EQ(file.Screen().signature.get(), 100u);
    EXPECT_EQ(file.Screen().width.get(), 1024u);
    EXPECT_EQ(file.Screen().height.get(), 768u);
    EXPECT_EQ(file.Screen().bitsPerPixel.get(), 32u);
    EXPECT_EQ(file.Screen().sharing.get(), 0u);
    EXPECT_EQ(file.Screen().drawn.get(), 0u);
    // The file's first row is the bottom screen row: red 00 00 FF 00,
    // green FF 00 00 00, blue 00 FF 00 00.
    const uint8_t expected[12] = {0, 0, 0xFF, 0, 0xFF, 0, 0, 0, 0, 0xFF, 0, 0};
    EXPECT_EQ(std::memcmp(file.bytes + 32, expected, sizeof expected), 0);
    const uint8_t* topRow = file.bytes + 32 + size_t(767) * 4096;
    EXPECT_EQ(topRow[0], 2);  // green
    EXPECT_EQ(topRow[1], 3);  // blue
    EXPECT_EQ(topRow[2], 1);  // red

    writer.MarkDrawn();
    EXPECT_EQ(file.Screen().drawn.get(), 1u);
    Mapping pointer(dir.Path() + "/ZTVLSHAREP.DAT");
    EXPECT_EQ(pointer.size, 65536u * 4 + 60);
}

TEST(ScreenFile, ModeSwitchClearsSharingInTheOldFileAndLeavesItReadable) {
    TempDir dir;
    ShareFileWriter writer;
    ASSERT_EQ(writer.Open(dir.Path(), 320, 200), ShareFileWriter::kOk);
    Mapping before(dir.Path() + "/ZTVLSHARE.DAT");
    ASSERT_NE(before.bytes, nullptr);
    StoreFlag(writer.ScreenHeader()->sharing, 1);  // as the server does
    ASSERT_EQ(before.Screen().sharing.get(), 1u);

    ASSERT_EQ(writer.SwitchMode(640, 480), ShareFileWriter::kOk);
    // The reader's old mapping still works (the old file was replaced, not
    // shortened) and says the sharing ended.
    EXPECT_EQ(before.Screen().sharing.get(), 0u);
    EXPECT_EQ(before.Screen().width.get(), 320u);
    EXPECT_EQ(before.bytes[before.size - 1], 0);
    Mapping after(dir.Path() + "/ZTVLSHARE.DAT");
    EXPECT_NE(after.inode, before.inode);
    EXPECT_EQ(after.size, ScreenFileSize(640, 480));
    EXPECT_EQ(after.Screen().width.get(), 640u);
    EXPECT_EQ(after.Screen().height.get(), 480u);
    EXPECT_EQ(after.Screen().sharing.get(), 0u);
}

TEST(ScreenFile, ARestartedSourceOfTheSameSizeKeepsTheFileAReaderMaps) {
    TempDir dir;
    {
        ShareFileWriter first;
        ASSERT_EQ(first.Open(dir.Path(), 100, 50), ShareFileWriter::kOk);
        first.MarkDrawn();
    }
    Mapping reader(dir.Path() + "/ZTVLSHARE.DAT");
    ShareFileWriter second;
    ASSERT_EQ(second.Open(dir.Path(), 100, 50), ShareFileWriter::kOk);
    second.Canvas().Put(5, 49, PackPixel(9, 9, 9));
    Mapping now(dir.Path() + "/ZTVLSHARE.DAT");
    EXPECT_EQ(now.inode, reader.inode);
    EXPECT_EQ(reader.Screen().drawn.get(), 0u);  // a fresh header
    EXPECT_EQ(reader.bytes[32 + 5 * 4 + 2], 9);  // and the reader sees the new pixels
}

TEST(ScreenFile, OpenRefusesSizesOutsideTheHeadersRange) {
    TempDir dir;
    ShareFileWriter writer;
    EXPECT_EQ(writer.Open(dir.Path(), 0, 10), ShareFileWriter::kBadSize);
    EXPECT_EQ(writer.Open(dir.Path(), 40000, 10), ShareFileWriter::kBadSize);
    EXPECT_EQ(writer.Open(dir.Path() + "/missing", 10, 10), ShareFileWriter::kPointerFileFailed);
    EXPECT_FALSE(writer.LastError().empty());
}

TEST(ScreenHeader, ParseAcceptsOnlyImagesThatFitTheFile) {
    struct Case {
        const char* name;
        uint32_t width, height, bits;
        size_t fileSize;
        int expected;
    };
    const size_t exact = 32 + size_t(100) * 400;  // the image without the unused row bytes
    const Case cases[] = {
        {"designed size", 100, 80, 32, ScreenFileSize(100, 80), kHeaderOk},
        {"image fits exactly", 100, 100, 32, exact, kHeaderOk},
        {"one byte short", 100, 100, 32, exact - 1, kHeaderExceedsFile},
        {"no room for a header", 100, 100, 32, 31, kHeaderTooShort},
        {"zero width", 0, 100, 32, ScreenFileSize(1, 100), kHeaderBadSize},
        {"zero height", 100, 0, 32, ScreenFileSize(100, 1), kHeaderBadSize},
        {"huge width", 0xFFFFFFFFu, 1, 32, ScreenFileSize(100, 100), kHeaderBadSize},
        {"huge height", 1, 0x80000000u, 32, ScreenFileSize(100, 100), kHeaderBadSize},
        {"24 bits", 100, 100, 24, ScreenFileSize(100, 100), kHeaderBadDepth},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> file(std::max<size_t>(c.fileSize, 32), 0);
        auto* h = reinterpret_cast<SCREENFILE_HEADER*>(file.data());
        h->width = c.width;
        h->height = c.height;
        h->bitsPerPixel = c.bits;
        ScreenGeometry g;
        EXPECT_EQ(ParseScreenHeader(file.data(), c.fileSize, &g), c.expected) << c.name;
        if (c.expected == kHeaderOk) {
            EXPECT_EQ(g.width, c.width) << c.name;
            EXPECT_EQ(g.stride, size_t(c.width) * 4) << c.name;
        }
    }
}

TEST(PointerFile, ColourShapeIsPaddedToA32PixelWidthWithAMaskFromItsAlpha) {
    TempDir dir;
    ShareFileWriter writer;
    ASSERT_EQ(writer.Open(dir.Path(), 64, 64), ShareFileWriter::kOk);
    // 20 x 3: opaque red, then half-transparent premultiplied white, then clear.
    std::vector<uint32_t> argb(20 * 3, 0);
    for (int x = 0; x < 20; ++x) {
        argb[size_t(x)] = 0xFFFF0000u;
        argb[size_t(20 + x)] = 0x80808080u;
    }
    writer.SetPointerShape(argb.data(), 20, 3, 4, 1, 300, 200);

    Mapping file(dir.Path() + "/ZTVLSHAREP.DAT");
    const POINTERFILE_HEADER& h = file.Pointer();
    EXPECT_EQ(h.changed.get(), 1u);
    EXPECT_EQ(h.shapeChanged.get(), 1u);
    EXPECT_EQ(h.x.get(), 300);
    EXPECT_EQ(h.y.get(), 200);
    EXPECT_EQ(h.xHot.get(), 4);
    EXPECT_EQ(h.yHot.get(), 1);
    EXPECT_EQ(h.shapeWidth.get(), 32u);
    EXPECT_EQ(h.shapeHeight.get(), 3u);
    EXPECT_EQ(h.firstSize.get(), 32u * 3 * 4);
    EXPECT_EQ(h.maskSize.get(), 4u * 3 * 2);  // AND rows, then XOR rows
    EXPECT_EQ(h.colour.get(), 1u);
    EXPECT_EQ(h.format.get(), 6u);
    EXPECT_EQ(h.hasMask.get(), 1u);
    EXPECT_EQ(h.firstTopDown.get(), 1u);
    EXPECT_EQ(h.maskTopDown.get(), 1u);

    const uint8_t* colour = file.bytes + 60;
    const uint8_t red[4] = {0, 0, 0xFF, 0xFF};  // blue, green, red, alpha
    EXPECT_EQ(std::memcmp(colour, red, 4), 0);
    const uint8_t* half = colour + 32 * 4;  // row 1: not premultiplied any more
    EXPECT_EQ(half[0], 0xFF);
    EXPECT_EQ(half[3], 0x80);
    const uint8_t* mask = colour + h.firstSize.get();
    // Row 0: 20 opaque pixels, then 12 padding pixels that are transparent.
    const uint8_t row0[4] = {0x00, 0x00, 0x0F, 0xFF};
    EXPECT_EQ(std::memcmp(mask, row0, 4), 0);
    EXPECT_EQ(mask[4], 0x00);  // row 1: alpha 0x80 counts as opaque
    const uint8_t row2[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(std::memcmp(mask + 8, row2, 4), 0);
    EXPECT_EQ(mask[12], 0);  // the XOR rows are zero

    StoreFlag(writer.PointerHeader()->changed, 0);  // as the server does
    writer.MovePointer(300, 200);
    EXPECT_EQ(h.changed.get(), 0u) << "no move, no change";
    writer.MovePointer(301, 200);
    EXPECT_EQ(h.changed.get(), 1u);
    EXPECT_EQ(h.x.get(), 301);
}

TEST(PointerFile, LargeShapesAreCroppedToFitThePointerRecord) {
    TempDir dir;
    ShareFileWriter writer;
    ASSERT_EQ(writer.Open(dir.Path(), 64, 64), ShareFileWriter::kOk);
    std::vector<uint32_t> argb(300 * 300, 0xFFFFFFFFu);
    writer.SetPointerShape(argb.data(), 300, 300, 250, 10, 0, 0);
    const POINTERFILE_HEADER* h = writer.PointerHeader();
    EXPECT_EQ(h->shapeWidth.get(), 64u);
    EXPECT_EQ(h->shapeHeight.get(), 64u);
    EXPECT_LE(h->firstSize.get() + h->maskSize.get(), kPointerBitsSize);
    EXPECT_LE(h->firstSize.get(), 32767u);
    EXPECT_EQ(h->xHot.get(), 63);  // kept inside the shape
}

}  // namespace
}  // namespace velmora
