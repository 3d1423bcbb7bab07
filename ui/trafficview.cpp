#include "ui/trafficview.h"

#include <QFontDatabase>

#include <cstdio>

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

TrafficView::TrafficView(QWidget* parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setMaximumBlockCount(MaxLines);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
}

void TrafficView::onOutLog(const PelmLogRecord& r)
{
    addLine(r.time.toString(QStringLiteral("hh:mm:ss.zzz")) + QStringLiteral("  OUT ") + r.interface +
            QStringLiteral("  ") + visible(r.message));
}

void TrafficView::onInLog(const PelmLogRecord& r)
{
    addLine(r.time.toString(QStringLiteral("hh:mm:ss.zzz")) + QStringLiteral("  IN  ") + r.interface +
            QStringLiteral("  ") + visible(r.message));
}

void TrafficView::onResult(const Measurement& m)
{
    addLine(
        QStringLiteral("RESULT %1 %2 (%3)")
            .arg(QString::number(double(m.value), 'f', m.decimals), m.unit, QChar::fromLatin1(m.stability)));
}

void TrafficView::onNote(const QString& text)
{
    addLine(text);
}

void TrafficView::addLine(const QString& line)
{
    appendPlainText(line);
    if (m_echo) {
        std::fprintf(stdout, "%s\n", line.toLocal8Bit().constData());
        std::fflush(stdout);
    }
}
