// One libFuzzer program per target: MERVIK_FUZZ_TARGET names it.
#include "targets.h"

#include <QApplication>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The string filter is a widget; the parsers need nothing but the application object.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    fuzzSetUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const auto run = [] {
        for (const FuzzTarget& target : fuzzTargets()) {
            if (target.name == QLatin1String(MERVIK_FUZZ_TARGET)) {
                return target.run;
            }
        }
        qFatal("no fuzz target %s", MERVIK_FUZZ_TARGET);
    }();
    run(QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size)));
    return 0;
}
