// main() of the benchmarks that may time the Qt pump: a QCoreApplication is there for it,
// then Google Benchmark runs what the command line selects.
#include <benchmark/benchmark.h>

#ifdef QUILLON_BENCH_QT
#include <QCoreApplication>
#endif

int main(int argc, char** argv) {
#ifdef QUILLON_BENCH_QT
    QCoreApplication app(argc, argv);
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
