// ZTVL, the screen source program: fills the shared screen and pointer files
// from the X display or from a synthetic scene (see --help).
#include <cstdio>
#include <string>

#include "mirror/sharefilewriter.h"
#include "mirror/sourcecontrol.h"
#include "mirror/sourceoptions.h"
#include "mirror/syntheticsource.h"
#include "mirror/x11snapshot.h"
#include "mirror/x11source.h"
#include "platform/runtime_dir.h"

int main(int argc, char** argv) {
    using namespace velmora;
    SourceOptions options;
    std::string error;
    switch (options.Parse(argc, argv, &error)) {
        case SourceOptions::kDescribe:
            std::fputs(SourceOptions::DescribeText().c_str(), stdout);
            return 0;
        case SourceOptions::kHelp:
            std::fputs(SourceOptions::HelpText().c_str(), stdout);
            return 0;
        case SourceOptions::kParsed:
            break;
        default:
            std::fprintf(stderr, "ZTVL: %s (see ZTVL --help)\n", error.c_str());
            return 2;
    }
    if (!options.snapshotFile.empty()) {
        if (!WriteX11Snapshot(options.display, options.snapshotFile, &error)) {
            std::fprintf(stderr, "ZTVL: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    std::string directory = options.directory;
    if (directory.empty()) {
        directory = RuntimeDir(&error);
        if (directory.empty()) {
            std::fprintf(stderr, "ZTVL: no runtime directory: %s\n", error.c_str());
            return 1;
        }
    }
    SourceControl control;
    if (!control.Open(options.controlFd, &error)) {
        std::fprintf(stderr, "ZTVL: %s\n", error.c_str());
        return 1;
    }
    ShareFileWriter writer;
    int code = 0;
    if (options.source == SourceOptions::Source::kSynthetic) {
        code = SyntheticSource(options, writer, control).Run(directory, &error);
    } else {
        code = X11Source(options, writer, control).Run(directory, &error);
    }
    writer.Close();  // sharing 0: the server sees the source gone
    if (code != 0) std::fprintf(stderr, "ZTVL: %s\n", error.c_str());
    return code;
}
