// main() of the benchmarks that need widgets: an offscreen application with the picture
// bundle, then every registered benchmark. The editor windows they build never look for
// updates.

#include "resources/resources.h"

#include <QApplication>
#include <benchmark/benchmark.h>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("VARILUME_NO_UPDATE_CHECK", "1");
    QApplication app(argc, argv);
    vl::initResources();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
