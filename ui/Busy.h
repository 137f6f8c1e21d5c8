// The busy animation beside the tool bar: a film reel that turns while a
// conversion run is in progress. Hidden and still otherwise.
#pragma once

#include <QTimer>
#include <QWidget>

class QSvgRenderer;

class TBusyAnimator : public QWidget {
    Q_OBJECT
public:
    explicit TBusyAnimator(QWidget* parent = nullptr);

    void start();
    void stop();
    bool isRunning() const { return timer_.isActive(); }
    // Current turn of the reel in degrees, 0 .. 359.
    int angle() const { return angle_; }

    QSize sizeHint() const override { return QSize(32, 37); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void step();

    QSvgRenderer* reel_;
    QTimer timer_;
    int angle_ = 0;
};
