// Request/answer exchanges per second: CDevice::result() in the device's own thread against
// mervik-sim on a pseudo-terminal, beside a bare QSerialPort write/read loop on the same line.
#include "device/cdevice.h"
#include "platform/queuedcall.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QProcess>
#include <QSerialPort>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int RoundMs = 500;
constexpr int Rounds = 11;

// The bare floor: write the request, read until the answer's line feed, repeat.
double bareRate(const QString& port)
{
    QSerialPort serial(port);
    serial.setBaudRate(115200);
    if (!serial.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "bench: cannot open %s\n", qPrintable(port));
        return 0.0;
    }
    serial.readAll();
    QElapsedTimer timer;
    timer.start();
    int count = 0;
    QByteArray answer;
    while (timer.elapsed() < RoundMs) {
        serial.write("Sx1\r\n");
        answer.clear();
        while (!answer.contains('\n')) {
            if (!serial.waitForReadyRead(2000)) {
                std::fprintf(stderr, "bench: no answer on the bare loop\n");
                return 0.0;
            }
            answer += serial.readAll();
        }
        ++count;
    }
    const double rate = count * 1000.0 / double(timer.elapsed());
    serial.close();
    return rate;
}

// The same exchange through the device's command engine, run in the device's own thread.
double deviceRate(const QString& port)
{
    QThread thread;
    thread.start();
    auto* device = new CDevice;
    device->setRS232(port, QStringLiteral("bench"), 115200);
    device->moveToThread(&thread);

    double rate = 0.0;
    int failures = 0;
    waitForCall(device, [device, &rate, &failures] {
        if (!device->connectDevice(false)) {
            return;
        }
        int ok = 0;
        QObject::connect(device, &CDevice::commandFinished, device,
                         [&ok, &failures](int result) { (result == COMMAND_OK ? ok : failures)++; });
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < RoundMs) {
            device->result();
        }
        rate = ok * 1000.0 / double(timer.elapsed());
        device->disconnectDevice();
        delete device;
    });
    thread.quit();
    thread.wait();
    if (failures > 0) {
        std::fprintf(stderr, "bench: %d device exchanges failed\n", failures);
    }
    return rate;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("mervik.*.debug=false"));
    DeviceTypes::registerMetaTypes();

    const QString simPath = QStringLiteral(MERVIK_SIM_PATH);
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(simPath, {QStringLiteral("--pty"), QStringLiteral("--weight"), QStringLiteral("12.345"),
                        QStringLiteral("--decimals"), QStringLiteral("3"), QStringLiteral("--max-seconds"),
                        QStringLiteral("120")});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "bench: cannot start %s\n", qPrintable(simPath));
        return 1;
    }
    const QString first = QString::fromLocal8Bit(sim.readLine()).trimmed();
    if (!first.startsWith(QLatin1String("PTY "))) {
        std::fprintf(stderr, "bench: unexpected simulator output: %s\n", qPrintable(first));
        return 1;
    }
    const QString port = first.mid(4);

    // Short interleaved rounds, so that the machine's noise falls on both alike; the medians are kept.
    std::vector<double> bares;
    std::vector<double> devices;
    for (int round = 0; round < Rounds; ++round) {
        const double b = bareRate(port);
        const double d = deviceRate(port);
        std::printf("round %d: device %.0f exch/s, bare %.0f exch/s\n", round + 1, d, b);
        std::fflush(stdout);
        bares.push_back(b);
        devices.push_back(d);
    }
    const double bare = median(bares);
    const double device = median(devices);
    sim.kill();
    sim.waitForFinished(2000);

    if (bare <= 0.0) {
        return 1;
    }
    std::printf("bench: exchange: %.0f exch/s; baseline %.0f exch/s; ratio %.2f\n", device, bare,
                device / bare);
    return 0;
}
