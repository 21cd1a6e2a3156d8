#pragma once

#include <QBasicTimer>
#include <QRadialGradient>
#include <QWidget>

class QLabel;

// An indeterminate busy indicator: twelve spokes turning round.
class SpinningIndicator : public QWidget {
    Q_OBJECT
public:
    explicit SpinningIndicator(QWidget* parent = nullptr);

    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return timer_.isActive(); }
    QSize sizeHint() const override { return {40, 40}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    QBasicTimer timer_;
    int step_ = 0;
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
