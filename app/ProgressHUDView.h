#pragma once

#include <QImage>
#include <QRadialGradient>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class QLabel;
class QPainter;

// An indeterminate busy indicator: twelve spokes turning round. The turning is driven by a thread
// of its own, which also draws each step: on X11 straight into the indicator's own window, so it
// keeps turning while the main thread is busy; elsewhere the widget shows the thread's latest
// step whenever the main thread paints.
class SpinningIndicator : public QWidget {
    Q_OBJECT
public:
    explicit SpinningIndicator(QWidget* parent = nullptr);
    ~SpinningIndicator() override;

    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return animator_.joinable(); }
    QSize sizeHint() const override { return {40, 40}; }

    // The step the spokes are at (0 to 11) and the last picture the animating thread drew
    // (the spokes over what lies behind the indicator).
    int step() const { return step_.load(); }
    QImage latestFrame() const;

    // The spokes at `step` in `ink`, in a square of `side` centred at the painter's origin.
    static void DrawSpokes(QPainter& painter, qreal side, int step, const QColor& ink);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Animate();
    void StepShown();
    QImage GrabBackground();

    std::thread animator_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    QImage background_;  // guarded by mutex_
    QImage frame_;       // guarded by mutex_
    QColor ink_;         // guarded by mutex_
    std::atomic<int> step_{0};
    std::atomic<bool> stepPending_{false};
    std::atomic<std::int64_t> lastPaint_{0};
    bool grabbing_ = false;
    std::uint32_t nativeWindow_ = 0;  // the X11 window drawn into by the thread, or 0
};

// The overlay that dims the file list while files are being added: a radial shadow, a spinning
// indicator and, instead of it, an optional message. While it is shown it takes the mouse, so
// rows under it cannot be selected, dragged or given a context menu.
class ProgressHUDView : public QWidget {
    Q_OBJECT
public:
    explicit ProgressHUDView(QWidget* parent = nullptr);

    SpinningIndicator* spinProgressIndicator() const { return spinProgressIndicator_; }
    QLabel* messageTextField() const { return messageTextField_; }

    void StartAddSpinning();
    void StopAddSpinning();
    void SetMessageString(const QString& message);
    void removeMessageString();

    // The shadow for a view of the given size: clear at the centre, 75 % black at the larger of
    // width and height from it, and that colour beyond.
    static QRadialGradient DimmingGradient(const QSizeF& size);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    SpinningIndicator* spinProgressIndicator_;
    QLabel* messageTextField_;
};
