#include "app/trafficecho.h"

#include "device/cdevice.h"

namespace {
// Makes line ends and control bytes visible, as a terminal log shows them.
QString visible(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\r')) {
            out += QStringLiteral("<CR>");
        } else if (c == QLatin1Char('\n')) {
            out += QStringLiteral("<LF>");
        } else if (c.unicode() < 0x20) {
            out += QStringLiteral("<%1>").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out;
}
} // namespace

TrafficEcho::TrafficEcho(std::FILE* out, QObject* parent) : QObject(parent), m_out(out) {}

void TrafficEcho::follow(CDevice* device)
{
    connect(device, &CDevice::newOutLog, this, &TrafficEcho::onOutLog);
    connect(device, &CDevice::newInLog, this, &TrafficEcho::onInLog);
}

void TrafficEcho::onOutLog(const PelmLogRecord& r)
{
    print(r.time.toString(QStringLiteral("hh:mm:ss.zzz")) + QStringLiteral("  OUT ") + r.interface +
          QStringLiteral("  ") + visible(r.message));
}

void TrafficEcho::onInLog(const PelmLogRecord& r)
{
    print(r.time.toString(QStringLiteral("hh:mm:ss.zzz")) + QStringLiteral("  IN  ") + r.interface +
          QStringLiteral("  ") + visible(r.message));
}

void TrafficEcho::onResult(const Measurement& m)
{
    print(QStringLiteral("RESULT %1 %2 (%3)").arg(m.valueText(), m.unit, QChar::fromLatin1(m.stability)));
}

void TrafficEcho::onState(int state)
{
    print(QStringLiteral("STATE ") + CDevice::stateName(state));
}

void TrafficEcho::onNote(const QString& text)
{
    print(text);
}

void TrafficEcho::print(const QString& line)
{
    std::fprintf(m_out, "%s\n", line.toLocal8Bit().constData());
    std::fflush(m_out);
}
