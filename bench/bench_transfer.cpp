// Firmware upload and alibi reading at 115200 baud against mervik-sim with wire timing, each beside its
// wire floor: the transmission time of every byte sent and received in the same run (ten bits a byte).
// The S-record upload of the line dialect and the block upload of the three-letter dialect are measured
// apart.
#include "device/cdevice.h"
#include "device/cdevicekx40.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

constexpr int Baud = 115200;
constexpr qint64 ImageBytes = 256 * 1024;
constexpr int AlibiRecords = 1000;
constexpr int BlockAddress = 12;

// A 256 KiB image of S3 records with 32 data bytes each, closed by an S7.
QByteArray image()
{
    const auto record = [](char type, quint32 address, const QByteArray& data) {
        QByteArray bytes;
        bytes += char(data.size() + 5);
        for (int shift = 24; shift >= 0; shift -= 8) {
            bytes += char(address >> shift);
        }
        bytes += data;
        quint8 sum = 0;
        for (const char b : bytes) {
            sum += quint8(b);
        }
        bytes += char(~sum);
        return 'S' + QByteArray(1, type) + bytes.toHex().toUpper() + "\r\n";
    };
    QByteArray file;
    for (quint32 address = 0; file.size() < ImageBytes - 100; address += 32) {
        QByteArray data(32, 0);
        for (int i = 0; i < data.size(); ++i) {
            data[i] = char(address * 7 + quint32(i) * 13);
        }
        file += record('3', address, data);
    }
    return file + record('7', 0, QByteArray());
}

struct Run
{
    double seconds = 0.0;
    double floorSeconds = 0.0;
    bool ok = false;
};

// What a measurement runs: the device for the simulator's port, what precedes the timed part, the timed
// operation, and the bytes the operation writes without logging them (the blocks of a block upload).
struct Measured
{
    std::function<CDevice*(const QString& port)> device = [](const QString& port) {
        auto* device = new CDevice;
        device->setRS232(port, QStringLiteral("bench"), Baud);
        return device;
    };
    std::function<bool(CDevice&)> prepare = [](CDevice&) { return true; };
    std::function<bool(CDevice&)> operation;
    qint64 unloggedBytes = 0;
};

// Starts mervik-sim with options and runs the operation on a device connected to it at 115200 baud,
// counting every byte the device sends and receives while it runs.
Run measure(const QStringList& options, const Measured& measured)
{
    Run run;
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(MERVIK_SIM_PATH),
              QStringList{"--pty", "--wire", "--max-seconds", "300"} + options);
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "bench: cannot start mervik-sim\n");
        return run;
    }
    const QString first = QString::fromLocal8Bit(sim.readLine()).trimmed();
    if (!first.startsWith(QLatin1String("PTY "))) {
        std::fprintf(stderr, "bench: unexpected simulator output: %s\n", qPrintable(first));
        return run;
    }
    const std::unique_ptr<CDevice> device(measured.device(first.mid(4)));
    qint64 bytes = 0;
    QObject::connect(device.get(), &CDevice::newOutLog,
                     [&bytes](const PelmLogRecord& r) { bytes += r.message.toUtf8().size(); });
    QObject::connect(device.get(), &CDevice::newInLog,
                     [&bytes](const PelmLogRecord& r) { bytes += r.message.toUtf8().size(); });
    if (device->connectDevice(false) && measured.prepare(*device)) {
        bytes = measured.unloggedBytes;
        QElapsedTimer timer;
        timer.start();
        run.ok = measured.operation(*device);
        run.seconds = double(timer.nsecsElapsed()) / 1e9;
        run.floorSeconds = double(bytes) * 10.0 / Baud;
        device->disconnectDevice();
    }
    sim.terminate();
    sim.waitForFinished(5000);
    return run;
}

void report(const char* name, const Run& run)
{
    if (!run.ok || run.seconds <= 0.0) {
        std::fprintf(stderr, "bench: %s failed\n", name);
        return;
    }
    std::printf("bench: %s: %.2f s; baseline %.2f s; ratio %.2f\n", name, run.seconds, run.floorSeconds,
                run.floorSeconds / run.seconds);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("mervik.*.debug=false\nmervik.*.warning=false"));
    DeviceTypes::registerMetaTypes();

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("image.s19"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(image()) < 0) {
        std::fprintf(stderr, "bench: cannot write %s\n", qPrintable(path));
        return 1;
    }
    file.close();

    int records = 0;
    Measured alibiRead;
    alibiRead.operation = [&records](CDevice& device) {
        QObject::connect(&device, &CDevice::readingAlibiProgress, [&records] { ++records; });
        return device.readAlibiMemory();
    };
    const Run alibi = measure({"--alibi", QString::number(AlibiRecords)}, alibiRead);
    if (records != AlibiRecords) {
        std::fprintf(stderr, "bench: %d of %d alibi records read\n", records, AlibiRecords);
    }
    report("alibi-read", alibi);

    Measured upload;
    upload.operation = [&path](CDevice& device) { return device.sendNewFirmware(path); };
    const Run firmware = measure({}, upload);
    report("firmware-upload", firmware);

    // The block loader takes the file as it is: a raw image of the same size.
    const QString rawPath = dir.filePath(QStringLiteral("image.bin"));
    QFile raw(rawPath);
    QByteArray rawImage(int(ImageBytes), '\0');
    for (int i = 0; i < rawImage.size(); ++i) {
        rawImage[i] = char(i * 7 + i / 1024);
    }
    if (!raw.open(QIODevice::WriteOnly) || raw.write(rawImage) != rawImage.size()) {
        std::fprintf(stderr, "bench: cannot write %s\n", qPrintable(rawPath));
        return 1;
    }
    raw.close();
    Measured blocks;
    blocks.device = [](const QString& port) {
        return CDeviceKx40::forSerialPort(port, QStringLiteral("bench"), Baud, BlockAddress);
    };
    // The echo test (whose 30 ms a loaded machine may miss once) tells the device how the line answers.
    blocks.prepare = [](CDevice& device) { return device.checkEcho() || device.checkEcho(); };
    blocks.operation = [&rawPath](CDevice& device) { return device.sendNewFirmware(rawPath); };
    // The header block, the data blocks, the end mark and the closing block leave unlogged.
    blocks.unloggedBytes = ((ImageBytes + CDeviceKx40::BlockPayload - 1) / CDeviceKx40::BlockPayload + 2) *
                               CDeviceKx40::BlockSize +
                           1;
    const Run blockUpload =
        measure({"--protocol", "three-letter", "--address", QString::number(BlockAddress)}, blocks);
    report("firmware-blocks", blockUpload);
    return alibi.ok && firmware.ok && blockUpload.ok && records == AlibiRecords ? 0 : 1;
}
