// Fuzz target: a screen file as the server finds it. Whatever its header
// claims, parsing it, building the grid, scanning the image and listing the
// blocks of a rectangle must stay inside the bytes given.
#include <cstdint>
#include <cstring>
#include <vector>

#include "mirror/ztvlshare.h"
#include "server/screen/blockgrid.h"
#include "server/screen/changescanner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace velmora;
    ScreenGeometry g;
    if (ParseScreenHeader(data, size, &g) != kHeaderOk) return 0;
    BlockGrid grid;
    grid.Build(int(g.width), int(g.height), g.stride, int(g.bitsPerPixel / 8));
    ChangeScanner scanner;
    if (!scanner.Reset(grid)) return 0;
    std::vector<int32_t> list(size_t(grid.Count()));
    for (int pass = 0; pass < 2; ++pass) {
        (void)scanner.Scan(data + kScreenHeaderSize, size - kScreenHeaderSize, grid, list.data(),
                           int(list.size()));
    }
    // A rectangle from the header's unused fields.
    int32_t rect[4];
    std::memcpy(rect, data + 16, sizeof rect);
    (void)grid.BlocksCovering(rect[0], rect[1], rect[2], rect[3], list.data(), int(list.size()));
    return 0;
}
