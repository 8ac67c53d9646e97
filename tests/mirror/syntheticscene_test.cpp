#include "mirror/syntheticscene.h"

#include <gtest/gtest.h>

#include <vector>

#include "mirror/movingwindowscene.h"

namespace velmora {
namespace {

struct Frame {
    Frame(int w, int h) : pixels(size_t(w) * size_t(h) * 4), canvas{pixels.data(), w, h} {}
    std::vector<uint8_t> pixels;
    FrameCanvas canvas;
};

// The property the synthetic source relies on: starting from frame 0 and
// redrawing only what Damage reports gives, frame after frame, exactly the
// picture drawn from scratch; and the animated scenes do change.
TEST(SyntheticScene, RedrawingTheDamageOfEachFrameGivesTheWholeFrame) {
    struct Case {
        const char* scene;
        int width, height;
        uint32_t frames;
        bool animated;
    };
    // Sizes small enough for quick checks; the typing page of 200 x 150
    // holds 20 x 5 cells, so 130 frames include a page that starts over.
    const Case cases[] = {
        {"static", 200, 150, 5, false},    {"typing", 200, 150, 130, true},
        {"scrolling", 200, 150, 12, true}, {"window", 300, 200, 40, true},
        {"window", 37, 41, 12, true},      {"noise", 64, 48, 3, true},
        {"typing", 20, 20, 10, false},  // too small for any text cell
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.scene) + " " + std::to_string(c.width) + "x" +
                     std::to_string(c.height));
        auto scene = SyntheticScene::Make(c.scene, c.width, c.height);
        ASSERT_NE(scene, nullptr);
        Frame incremental(c.width, c.height);
        Frame whole(c.width, c.height);
        Frame previous(c.width, c.height);
        scene->Draw(0, scene->Bounds(), incremental.canvas);
        bool changed = false;
        std::vector<ScreenRect> damage;
        for (uint32_t f = 1; f <= c.frames; ++f) {
            previous.pixels = incremental.pixels;
            damage.clear();
            scene->Damage(f, damage);
            for (const ScreenRect& r : damage) {
                EXPECT_FALSE(r.Intersect(scene->Bounds()) != r) << "damage outside the screen";
                scene->Draw(f, r, incremental.canvas);
            }
            scene->Draw(f, scene->Bounds(), whole.canvas);
            ASSERT_EQ(incremental.pixels, whole.pixels) << "frame " << f;
            changed = changed || previous.pixels != whole.pixels;
        }
        EXPECT_EQ(changed, c.animated);
    }
}

TEST(SyntheticScene, UnknownNamesAndEmptyScreensMakeNoScene) {
    EXPECT_EQ(SyntheticScene::Make("video", 100, 100), nullptr);
    EXPECT_EQ(SyntheticScene::Make("static", 0, 100), nullptr);
    for (const char* name : SyntheticScene::kNames) {
        EXPECT_NE(SyntheticScene::Make(name, 1, 1), nullptr) << name;
    }
}

TEST(SyntheticScene, MovingWindowStaysOnTheScreenAndKeepsMoving) {
    MovingWindowScene scene(800, 600);
    ScreenRect last = scene.WindowAt(0);
    for (uint32_t f = 1; f < 500; ++f) {
        const ScreenRect w = scene.WindowAt(f);
        ASSERT_EQ(w.Intersect(scene.Bounds()), w) << f;
        ASSERT_FALSE(w == last) << f;
        last = w;
    }
}

}  // namespace
}  // namespace velmora
