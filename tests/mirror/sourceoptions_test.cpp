#include "mirror/sourceoptions.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmora {
namespace {

int Parse(std::vector<const char*> args, SourceOptions* options, std::string* error) {
    args.insert(args.begin(), "ZTVL");
    return options->Parse(int(args.size()), args.data(), error);
}

TEST(SourceOptions, ParsesTheSyntheticSourcesCommandLine) {
    SourceOptions o;
    std::string error;
    ASSERT_EQ(Parse({"--source", "synthetic", "--scene", "typing", "--size", "1024x768", "--rate",
                     "30", "--frames", "90", "--mode-switch", "45:800x600", "--dir", "/tmp/x",
                     "--control-fd", "3"},
                    &o, &error),
              SourceOptions::kParsed)
        << error;
    EXPECT_EQ(o.source, SourceOptions::Source::kSynthetic);
    EXPECT_EQ(o.scene, "typing");
    EXPECT_EQ(o.width, 1024);
    EXPECT_EQ(o.height, 768);
    EXPECT_EQ(o.rate, 30u);
    EXPECT_EQ(o.frames, 90);
    EXPECT_EQ(o.switchFrame, 45);
    EXPECT_EQ(o.switchWidth, 800);
    EXPECT_EQ(o.switchHeight, 600);
    EXPECT_EQ(o.directory, "/tmp/x");
    EXPECT_EQ(o.controlFd, 3);

    SourceOptions defaults;
    EXPECT_EQ(Parse({}, &defaults, &error), SourceOptions::kParsed);
    EXPECT_EQ(defaults.source, SourceOptions::Source::kX11);
}

TEST(SourceOptions, RefusesBadArgumentsWithASentence) {
    const std::vector<std::vector<const char*>> bad = {
        {"--source", "wayland"},
        {"--scene", "video"},
        {"--size", "1024"},
        {"--size", "0x768"},
        {"--size", "40000x10"},
        {"--size", "10x10x"},
        {"--rate", "0"},
        {"--rate", "fast"},
        {"--frames", "-2"},
        {"--mode-switch", "5"},
        {"--mode-switch", "0:8x8"},
        {"--bogus"},
        {"--dir"},
    };
    for (const auto& args : bad) {
        SourceOptions o;
        std::string error;
        EXPECT_EQ(Parse(args, &o, &error), SourceOptions::kBadArgument) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
}

TEST(SourceOptions, DescribeNamesTheDriverAndItsService) {
    SourceOptions o;
    std::string error;
    EXPECT_EQ(Parse({"--size", "8x8", "--describe"}, &o, &error), SourceOptions::kDescribe);
    EXPECT_EQ(SourceOptions::DescribeText(), "description: ZTVL Display Drivers\nservice: ztvl\n");
    EXPECT_EQ(Parse({"--help"}, &o, &error), SourceOptions::kHelp);
}

}  // namespace
}  // namespace velmora
