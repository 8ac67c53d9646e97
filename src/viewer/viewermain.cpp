// VelmoraViewer: calls a Velmora server and shows its desktop. This build
// has the headless mode only (--help); the windows come with the Qt build.
#include <cstdio>
#include <string>

#include "clientif/ztclientif.h"
#include "viewer/headlessoptions.h"
#include "viewer/headlessviewer.h"

int main(int argc, char** argv) {
    using namespace velmora;
    HeadlessOptions options;
    std::string error;
    switch (options.Parse(argc, argv, &error)) {
        case HeadlessOptions::kHelp:
            std::fputs(HeadlessOptions::HelpText().c_str(), stdout);
            return 0;
        case HeadlessOptions::kStopBroker: {
            ZtifSettings settings = ZtifGetSettings();
            settings.stopLimitMs = 10000;
            ZtifSetSettings(settings);
            ZtifStopBroker(options.brokerName.c_str());
            return 0;
        }
        case HeadlessOptions::kParsed:
            break;
        default:
            std::fprintf(stderr, "VelmoraViewer: %s (see VelmoraViewer --help)\n", error.c_str());
            return HeadlessViewer::kExitBadArguments;
    }
    HeadlessViewer viewer(options);
    return viewer.Run();
}
