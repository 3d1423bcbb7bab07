#include "ui/switch.h"

#include "ui/animator.h"

#include <QEvent>
#include <QPainter>
#include <QRadialGradient>

#include <algorithm>

namespace {
const QColor OnColor(QStringLiteral("#6fc420"));
const QColor ThumbOffColor(QStringLiteral("#fafafa"));
const QColor TrackOffColor(QStringLiteral("#000000"));
const QColor DisabledColor(QStringLiteral("#bdbdbd"));

constexpr qreal TrackOnOpacity = 0.5;
constexpr qreal TrackOffOpacity = 0.38;
constexpr qreal TrackDisabledOpacity = 0.12;
constexpr qreal ThumbShadowOpacity = 0.26;

constexpr int TrackWidth = 36;
constexpr int TrackHeight = 16;
constexpr int TrackRadius = 8;
constexpr int ThumbDiameter = 22;
// Room around the thumb for its shadow, and how far the thumb reaches past the track's ends.
constexpr int ShadowMargin = 4;
constexpr int ThumbOverhang = (ThumbDiameter - TrackHeight) / 2;
constexpr int TextSpacing = 10;
constexpr int AnimationMs = 150;

QColor withOpacity(QColor color, qreal opacity)
{
    color.setAlphaF(opacity);
    return color;
}
} // namespace

Switch::Switch(QWidget* parent) : Switch(QString(), parent) {}

Switch::Switch(const QString& text, QWidget* parent)
    : SelectionControl(parent), m_positionAnimator(new Animator(this, "position", this)),
      m_thumbAnimator(new Animator(this, "thumbColor", this)),
      m_trackAnimator(new Animator(this, "trackColor", this))
{
    setText(text);
    QFont f(QStringLiteral("Roboto medium"));
    f.setPointSizeF(font().pointSizeF());
    setFont(f);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    for (Animator* animator : {m_positionAnimator, m_thumbAnimator, m_trackAnimator}) {
        animator->setup(AnimationMs, QEasingCurve::InOutQuad);
    }
    m_thumbColor = targetThumbColor();
    m_trackColor = targetTrackColor();
    connect(this, &QAbstractButton::toggled, this, &Switch::onToggled);
}

void Switch::setPosition(qreal position)
{
    m_position = position;
    update();
}

void Switch::setThumbColor(const QColor& color)
{
    m_thumbColor = color;
    update();
}

void Switch::setTrackColor(const QColor& color)
{
    m_trackColor = color;
    update();
}

QSize Switch::sizeHint() const
{
    int width = 2 * (ShadowMargin + ThumbOverhang) + TrackWidth;
    int height = ThumbDiameter + 2 * ShadowMargin;
    if (!text().isEmpty()) {
        const QFontMetrics fm(font());
        width += TextSpacing + fm.horizontalAdvance(text());
        height = std::max(height, fm.height());
    }
    return {width, height};
}

void Switch::onToggled(bool checked)
{
    m_positionAnimator->interpolate(m_position, checked ? 1.0 : 0.0);
    m_thumbAnimator->interpolate(m_thumbColor, targetThumbColor());
    m_trackAnimator->interpolate(m_trackColor, targetTrackColor());
}

void Switch::changeEvent(QEvent* event)
{
    SelectionControl::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) {
        m_thumbAnimator->jumpTo(targetThumbColor());
        m_trackAnimator->jumpTo(targetTrackColor());
    }
}

QColor Switch::targetThumbColor() const
{
    if (!isEnabled()) {
        return DisabledColor;
    }
    return isChecked() ? OnColor : ThumbOffColor;
}

QColor Switch::targetTrackColor() const
{
    if (!isEnabled()) {
        return withOpacity(TrackOffColor, TrackDisabledOpacity);
    }
    return isChecked() ? withOpacity(OnColor, TrackOnOpacity) : withOpacity(TrackOffColor, TrackOffOpacity);
}

void Switch::paintEvent(QPaintEvent* /*event*/)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);

    const qreal centreY = height() / 2.0;
    const qreal trackLeft = ShadowMargin + ThumbOverhang;
    const QRectF track(trackLeft, centreY - TrackHeight / 2.0, TrackWidth, TrackHeight);
    p.setBrush(m_trackColor);
    p.drawRoundedRect(track, TrackRadius, TrackRadius);

    // The thumb's centre travels between the centres of the track's rounded ends.
    const qreal travel = TrackWidth - 2 * TrackRadius;
    const QPointF thumbCentre(trackLeft + TrackRadius + m_position * travel, centreY);
    const qreal radius = ThumbDiameter / 2.0;

    // A soft shadow a pixel below the thumb, fading out over the margin.
    const QPointF shadowCentre = thumbCentre + QPointF(0, 1);
    const QColor shadowColor = withOpacity(Qt::black, ThumbShadowOpacity);
    QRadialGradient shadow(shadowCentre, radius + ShadowMargin);
    shadow.setColorAt(0, shadowColor);
    shadow.setColorAt((radius - 1) / (radius + ShadowMargin), shadowColor);
    shadow.setColorAt(1, withOpacity(Qt::black, 0));
    p.setBrush(shadow);
    p.drawEllipse(shadowCentre, radius + ShadowMargin, radius + ShadowMargin);
    p.setBrush(m_thumbColor);
    p.drawEllipse(thumbCentre, radius, radius);

    if (!text().isEmpty()) {
        const qreal textLeft = trackLeft + TrackWidth + ThumbOverhang + ShadowMargin + TextSpacing;
        p.setPen(isEnabled() ? TrackOffColor : DisabledColor);
        p.drawText(QRectF(textLeft, 0, width() - textLeft, height()), Qt::AlignLeft | Qt::AlignVCenter,
                   text());
    }
}
