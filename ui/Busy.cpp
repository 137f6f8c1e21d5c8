#include "ui/Busy.h"

#include "ui/Icons.h"

#include <QPainter>
#include <QSvgRenderer>

namespace {
constexpr int kFrameMs = 40;
constexpr int kStepDegrees = 8;
}  // namespace

TBusyAnimator::TBusyAnimator(QWidget* parent) : QWidget(parent), reel_(new QSvgRenderer(BusyPicturePath(), this)) {
    setObjectName("RxGIFAnimator1");
    setFixedSize(32, 37);
    timer_.setInterval(kFrameMs);
    connect(&timer_, &QTimer::timeout, this, &TBusyAnimator::step);
}

void TBusyAnimator::start() {
    if (!timer_.isActive()) timer_.start();
    update();
}

void TBusyAnimator::stop() {
    timer_.stop();
    angle_ = 0;
    update();
}

void TBusyAnimator::step() {
    angle_ = (angle_ + kStepDegrees) % 360;
    update();
}

void TBusyAnimator::paintEvent(QPaintEvent* /*event*/) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    // Keep the picture's 32:37 shape, centred, and turn it about the reel's hub.
    const QSizeF design = reel_->defaultSize();
    const qreal scale = std::min(width() / design.width(), height() / design.height());
    const QSizeF drawn = design * scale;
    const QPointF topLeft((width() - drawn.width()) / 2, (height() - drawn.height()) / 2);
    const QPointF hub = topLeft + QPointF(drawn.width() / 2, drawn.height() / 2);
    p.translate(hub);
    p.rotate(angle_);
    p.translate(-hub);
    reel_->render(&p, QRectF(topLeft, drawn));
}
