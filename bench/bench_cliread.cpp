// Results per second that `mervik-cli read` prints from an instrument answering at once (mervik-sim on
// a pseudo-terminal), beside a bare poll loop on the same line (open it raw, send the request, read the
// answer, parse it) and the same loop written by hand in Python.
#include "support/simprocess.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int Count = 30000;
constexpr int Rounds = 5;
constexpr int AnswerTimeoutMs = 2000;
constexpr int CliTimeoutMs = 60000;

// The hand-written floor: one request, the answer up to its line feed, its value, repeated.
double bareRate(const QByteArray& port)
{
    const int fd = ::open(port.constData(), O_RDWR | O_NOCTTY);
    if (fd < 0) {
        std::fprintf(stderr, "bench: cannot open %s: %s\n", port.constData(), std::strerror(errno));
        return 0.0;
    }
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    tcflush(fd, TCIOFLUSH);
    const qint64 start = QDateTime::currentMSecsSinceEpoch();
    double sum = 0.0;
    int count = 0;
    char answer[64];
    for (; count < Count; ++count) {
        if (::write(fd, "Sx1\r\n", 5) != 5) {
            break;
        }
        int size = 0;
        while (size == 0 || answer[size - 1] != '\n') {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, AnswerTimeoutMs) <= 0) {
                std::fprintf(stderr, "bench: no answer on the bare loop\n");
                ::close(fd);
                return 0.0;
            }
            const ssize_t got = ::read(fd, answer + size, sizeof(answer) - 1 - size);
            if (got <= 0) {
                ::close(fd);
                return 0.0;
            }
            size = std::min(size + int(got), int(sizeof(answer)) - 1);
        }
        answer[size] = '\0';
        // Sign, nine characters of value, blank, unit, CR LF.
        sum += std::strtod(answer + 1, nullptr);
    }
    const qint64 elapsed = std::max<qint64>(1, QDateTime::currentMSecsSinceEpoch() - start);
    ::close(fd);
    if (count < Count || sum <= 0.0) {
        std::fprintf(stderr, "bench: the bare loop read %d results\n", count);
        return 0.0;
    }
    return count * 1000.0 / double(elapsed);
}

// The loop a lab user writes by hand in Python: open the port raw, send the request, read up to 16
// bytes until the line ends, parse. 0 where no python3 is installed.
const char* const HandLoop = R"(
import os, select, sys, termios, time, tty
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)
tty.setraw(fd)
termios.tcflush(fd, termios.TCIOFLUSH)
count = int(sys.argv[2])
total = 0.0
start = time.monotonic()
for i in range(count):
    os.write(fd, b"Sx1\r\n")
    answer = b""
    while not answer.endswith(b"\n"):
        if not select.select([fd], [], [], 2.0)[0]:
            sys.exit("no answer")
        answer += os.read(fd, 16)
    total += float(answer[1:10])
print(count / (time.monotonic() - start))
)";

double handRate(const QString& port)
{
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"), QString::fromLatin1(HandLoop), port, QString::number(Count)});
    if (!python.waitForFinished(CliTimeoutMs) || python.exitCode() != 0) {
        python.kill();
        python.waitForFinished(2000);
        return 0.0;
    }
    return python.readAllStandardOutput().trimmed().toDouble();
}

// The tool's own rate, from the time stamps of its first and last printed result, so that opening the
// port and identifying the instrument do not count.
double cliRate(const QString& cli, const QString& port, const QString& outPath)
{
    QProcess process;
    process.setStandardOutputFile(outPath);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(cli, {QStringLiteral("read"), port, QStringLiteral("--count"), QString::number(Count)});
    if (!process.waitForFinished(CliTimeoutMs) || process.exitCode() != 0) {
        std::fprintf(stderr, "bench: mervik-cli failed: %s\n", process.readAllStandardError().constData());
        process.kill();
        process.waitForFinished(2000);
        return 0.0;
    }
    QFile file(outPath);
    if (!file.open(QIODevice::ReadOnly)) {
        return 0.0;
    }
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    if (lines.size() != Count) {
        std::fprintf(stderr, "bench: mervik-cli printed %d lines\n", int(lines.size()));
        return 0.0;
    }
    const auto stamp = [](const QByteArray& line) {
        return QDateTime::fromString(QString::fromLatin1(line.left(line.indexOf(' '))), Qt::ISODateWithMs);
    };
    const qint64 ms = std::max<qint64>(1, stamp(lines.first()).msecsTo(stamp(lines.last())));
    return (Count - 1) * 1000.0 / double(ms);
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
    QTemporaryDir temporary;
    SimProcess sim;
    const QString port =
        sim.startPty({QStringLiteral("--weight"), QStringLiteral("12.345"), QStringLiteral("--decimals"),
                      QStringLiteral("3"), QStringLiteral("--max-seconds"), QStringLiteral("120")});
    if (!temporary.isValid() || port.isEmpty()) {
        std::fprintf(stderr, "bench: cannot start %s: %s\n", MERVIK_SIM_PATH, sim.errors().constData());
        return 1;
    }

    std::vector<double> bares;
    std::vector<double> clis;
    std::vector<double> hands;
    for (int round = 0; round < Rounds; ++round) {
        const double b = bareRate(port.toLocal8Bit());
        const double c =
            cliRate(QStringLiteral(MERVIK_CLI_PATH), port, temporary.filePath(QStringLiteral("out")));
        const double h = handRate(port);
        std::printf(
            "round %d: mervik-cli %.0f results/s, bare %.0f results/s, by hand (Python) %.0f results/s\n",
            round + 1, c, b, h);
        std::fflush(stdout);
        bares.push_back(b);
        clis.push_back(c);
        hands.push_back(h);
    }
    const double bare = median(bares);
    const double cli = median(clis);
    const double hand = median(hands);
    if (bare <= 0.0 || cli <= 0.0) {
        return 1;
    }
    std::printf("bench: cli-read: %.0f results/s; baseline %.0f results/s; ratio %.2f\n", cli, bare,
                cli / bare);
    if (hand > 0.0) {
        std::printf("bench: cli-read-by-hand: %.0f results/s; baseline %.0f results/s; ratio %.2f\n", cli,
                    hand, cli / hand);
    } else {
        std::printf("(no python3: the loop written by hand was not run)\n");
    }
    return 0;
}
