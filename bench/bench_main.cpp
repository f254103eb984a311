// In-process benchmarks. "--smoke" runs every benchmark once at tiny sizes (the test suite's
// guard against rot); without it they run at the sizes of the published table.
#include "benchsupport.h"

#include <QApplication>

#include <cstring>
#include <vector>

int main(int argc, char **argv)
{
    std::vector<char *> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0)
            vorlan::bench::setSmoke();
        else
            args.push_back(argv[i]);
    }
    int count = int(args.size());
    args.push_back(nullptr);

    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(count, args.data());
    benchmark::Initialize(&count, args.data());
    using namespace vorlan::bench;
    registerConversationBenchmarks();
    registerRosterBenchmarks();
    registerLogBenchmarks();
    registerCodecBenchmarks();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
