// A serial search over 16 pseudo-terminals (instruments of both generations at two speeds, and
// silent ports) with every port probed in its own thread, against the same ports searched one at a
// time: the sum of those searches, and the slowest of them.
#include "device/cmervikmanagerfactory.h"
#include "platform/queuedcall.h"
#include "search/csearching.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QProcess>
#include <QThread>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

class SerialOnly : public CMervikManagerFactory
{
public:
    SerialOnly() { m_options.searchNetwork = false; }
};

// mervik-sim on a pseudo-terminal; "PTY <path>" is its first line.
struct Sim
{
    QProcess process;
    QString port;

    bool start(const QStringList& arguments)
    {
        process.start(QStringLiteral(MERVIK_SIM_PATH),
                      QStringList{"--pty", "--max-seconds", "300"} + arguments);
        if (!process.waitForStarted(5000)) {
            return false;
        }
        while (!process.canReadLine()) {
            if (!process.waitForReadyRead(5000)) {
                return false;
            }
        }
        const QString line = QString::fromUtf8(process.readLine()).trimmed();
        port = line.startsWith(QLatin1String("PTY ")) ? line.mid(4) : QString();
        return !port.isEmpty();
    }
    ~Sim()
    {
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

// One whole search over the given ports, in the searcher's own thread; milliseconds and devices found.
qint64 search(CSearching* searching, const QStringList& ports, int* found)
{
    qputenv("MERVIK_SERIAL_PORTS", ports.join(QLatin1Char(':')).toLocal8Bit());
    QElapsedTimer timer;
    timer.start();
    waitForCall(searching, [searching, found] {
        searching->search();
        *found = searching->deviceCount();
    });
    return timer.elapsed();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("mervik.*.debug=false"));
    // Nothing here may touch the machine's own ports or networks.
    qputenv("MERVIK_SEARCH_INTERFACES", "");

    const QList<QStringList> kinds = {{"--baud", "9600"},
                                      {"--baud", "115200"},
                                      {"--baud", "9600", "--generation", "old"},
                                      {"--baud", "115200", "--generation", "old"},
                                      {"--silent-after", "0"},
                                      {"--silent-after", "0"},
                                      {"--silent-after", "0"},
                                      {"--silent-after", "0"}};
    std::vector<std::unique_ptr<Sim>> sims;
    QStringList ports;
    for (int i = 0; i < 16; ++i) {
        sims.push_back(std::make_unique<Sim>());
        if (!sims.back()->start(kinds.at(i % kinds.size()))) {
            std::fprintf(stderr, "bench: cannot start mervik-sim\n");
            return 1;
        }
        ports << sims.back()->port;
    }

    SerialOnly factory;
    QThread thread;
    auto* searching = new CSearching(&factory);
    searching->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, searching, &QObject::deleteLater);
    thread.start();

    qint64 sum = 0;
    qint64 slowest = 0;
    int foundAlone = 0;
    for (const QString& port : qAsConst(ports)) {
        int found = 0;
        const qint64 ms = search(searching, {port}, &found);
        sum += ms;
        slowest = qMax(slowest, ms);
        foundAlone += found;
    }
    int foundTogether = 0;
    const qint64 together = search(searching, ports, &foundTogether);
    thread.quit();
    thread.wait();

    std::printf("16 ports: one at a time %lld ms in all (slowest %lld ms, found %d), "
                "all at once %lld ms (found %d)\n",
                static_cast<long long>(sum), static_cast<long long>(slowest), foundAlone,
                static_cast<long long>(together), foundTogether);
    std::printf("bench: search: %lld ms; baseline %lld ms; ratio %.2f\n", static_cast<long long>(together),
                static_cast<long long>(sum), double(sum) / double(qMax<qint64>(1, together)));
    std::printf("bench: search-slowest-port: %lld ms; baseline %lld ms; ratio %.2f\n",
                static_cast<long long>(together), static_cast<long long>(slowest),
                double(slowest) / double(qMax<qint64>(1, together)));
    return foundAlone == foundTogether ? 0 : 1;
}
