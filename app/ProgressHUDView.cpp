#include "ProgressHUDView.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {
constexpr int kSpokes = 12;
constexpr auto kStep = std::chrono::milliseconds(80);

std::int64_t NowMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A connection of the animating thread's own to the X server, which draws pictures into one
// window. Only windows of depth 24 or 32 in 32-bit pixels are drawn into; anything else is left
// to the widget's own painting.
class X11WindowPainter {
public:
    explicit X11WindowPainter(std::uint32_t window) : window_(window) {
        connection_ = xcb_connect(nullptr, nullptr);
        if (!connection_ || xcb_connection_has_error(connection_)) return;
        xcb_get_geometry_reply_t* geometry =
            xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window_), nullptr);
        if (!geometry) return;
        depth_ = geometry->depth;
        std::free(geometry);
        const xcb_setup_t* setup = xcb_get_setup(connection_);
        bool thirtyTwoBits = false;
        for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem; xcb_format_next(&formats))
            if (formats.data->depth == depth_) thirtyTwoBits = formats.data->bits_per_pixel == 32;
        if ((depth_ != 24 && depth_ != 32) || !thirtyTwoBits || setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
            return;
        gc_ = xcb_generate_id(connection_);
        xcb_create_gc(connection_, gc_, window_, 0, nullptr);
        usable_ = true;
    }
    ~X11WindowPainter() {
        if (!connection_) return;
        if (usable_) xcb_free_gc(connection_, gc_);
        xcb_disconnect(connection_);
    }
    X11WindowPainter(const X11WindowPainter&) = delete;
    X11WindowPainter& operator=(const X11WindowPainter&) = delete;

    void Draw(const QImage& picture) {
        if (!usable_) return;
        const QImage pixels = picture.convertToFormat(depth_ == 32 ? QImage::Format_ARGB32_Premultiplied
                                                                    : QImage::Format_RGB32);
        xcb_put_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window_, gc_, static_cast<std::uint16_t>(pixels.width()),
                      static_cast<std::uint16_t>(pixels.height()), 0, 0, 0, depth_,
                      static_cast<std::uint32_t>(pixels.sizeInBytes()), pixels.constBits());
        xcb_flush(connection_);
        // Errors (the window gone before the thread stopped) are dropped.
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) std::free(event);
    }

private:
    std::uint32_t window_;
    xcb_connection_t* connection_ = nullptr;
    xcb_gcontext_t gc_ = 0;
    std::uint8_t depth_ = 0;
    bool usable_ = false;
};

bool OnX11() { return QGuiApplication::platformName() == QLatin1String("xcb"); }
}  // namespace

SpinningIndicator::SpinningIndicator(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(sizeHint());
    // On X11 the indicator has a window of its own for the animating thread to draw into; the
    // windows around it stay as they are.
    if (OnX11()) {
        setAttribute(Qt::WA_DontCreateNativeAncestors);
        setAttribute(Qt::WA_NativeWindow);
    }
}

SpinningIndicator::~SpinningIndicator() { stopAnimation(); }

void SpinningIndicator::startAnimation() {
    if (animator_.joinable()) return;
    if (OnX11()) nativeWindow_ = static_cast<std::uint32_t>(winId());
    {
        std::lock_guard lock(mutex_);
        stopping_ = false;
        background_ = GrabBackground();
        ink_ = palette().color(QPalette::WindowText);
    }
    lastPaint_ = NowMilliseconds();
    animator_ = std::thread([this] { Animate(); });
}

void SpinningIndicator::stopAnimation() {
    if (!animator_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    animator_.join();
}

QImage SpinningIndicator::latestFrame() const {
    std::lock_guard lock(mutex_);
    return frame_;
}

// The animating thread: one step every 80 ms. Each step is drawn over the latest picture of what
// lies behind the indicator; on X11 it goes straight into the window when the main thread has not
// painted the indicator for two steps (when it has, its own painting is shown).
void SpinningIndicator::Animate() {
    std::unique_ptr<X11WindowPainter> x11;
    if (nativeWindow_) x11 = std::make_unique<X11WindowPainter>(nativeWindow_);
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, kStep, [this] { return stopping_; })) {
        const int step = (step_.load() + 1) % kSpokes;
        step_ = step;
        QImage frame = background_.copy();
        if (!frame.isNull()) {
            QPainter painter(&frame);
            painter.setRenderHint(QPainter::Antialiasing);
            const QSizeF size = frame.deviceIndependentSize();
            painter.translate(size.width() / 2.0, size.height() / 2.0);
            DrawSpokes(painter, std::min(size.width(), size.height()), step, ink_);
        }
        frame_ = frame;
        if (x11 && !frame.isNull() && NowMilliseconds() - lastPaint_.load() > 2 * kStep.count()) x11->Draw(frame);
        if (!stepPending_.exchange(true)) QMetaObject::invokeMethod(this, [this] { StepShown(); }, Qt::QueuedConnection);
    }
}

// On the main thread, when it gets to it: a fresh picture of the background for the thread, and
// the step painted the ordinary way.
void SpinningIndicator::StepShown() {
    stepPending_ = false;
    if (!animator_.joinable()) return;
    QImage background = GrabBackground();
    {
        std::lock_guard lock(mutex_);
        background_ = std::move(background);
        ink_ = palette().color(QPalette::WindowText);
    }
    update();
}

// What the window shows where the indicator lies, without the indicator.
QImage SpinningIndicator::GrabBackground() {
    const qreal ratio = devicePixelRatioF();
    QImage picture((QSizeF(size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    picture.setDevicePixelRatio(ratio);
    picture.fill(palette().color(QPalette::Window));
    QWidget* top = window();
    grabbing_ = true;
    top->render(&picture, QPoint(), QRegion(QRect(mapTo(top, QPoint(0, 0)), size())),
                QWidget::DrawWindowBackground | QWidget::DrawChildren);
    grabbing_ = false;
    return picture;
}

void SpinningIndicator::DrawSpokes(QPainter& painter, qreal side, int step, const QColor& ink) {
    QPen pen(ink, side / 11.0, Qt::SolidLine, Qt::RoundCap);
    for (int i = 0; i < kSpokes; ++i) {
        // The spoke at the current step is darkest; the ones behind it fade out.
        const int age = (step - i + kSpokes) % kSpokes;
        QColor colour(ink);
        colour.setAlphaF(1.0 - 0.75 * age / (kSpokes - 1));
        pen.setColor(colour);
        painter.setPen(pen);
        painter.save();
        painter.rotate(360.0 * i / kSpokes);
        painter.drawLine(QPointF(0, -side * 0.22), QPointF(0, -side * 0.44));
        painter.restore();
    }
}

void SpinningIndicator::paintEvent(QPaintEvent*) {
    if (grabbing_) return;
    lastPaint_ = NowMilliseconds();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    // The shadow is clear at the centre, where the indicator turns: it is drawn in the text colour.
    DrawSpokes(painter, std::min(width(), height()), step_.load(), palette().color(QPalette::WindowText));
}

ProgressHUDView::ProgressHUDView(QWidget* parent)
    : QWidget(parent),
      spinProgressIndicator_(new SpinningIndicator(this)),
      messageTextField_(new QLabel(this)) {
    spinProgressIndicator_->setObjectName(QStringLiteral("spinProgressIndicator"));
    messageTextField_->setObjectName(QStringLiteral("messageTextField"));
    messageTextField_->setTextFormat(Qt::PlainText);
    messageTextField_->setAlignment(Qt::AlignCenter);
    messageTextField_->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(spinProgressIndicator_, 0, Qt::AlignCenter);
    layout->addWidget(messageTextField_);
    layout->addStretch();

    setCursor(Qt::BusyCursor);
    messageTextField_->hide();
    spinProgressIndicator_->hide();
    hide();
    update();
}

void ProgressHUDView::StartAddSpinning() {
    spinProgressIndicator_->startAnimation();
    spinProgressIndicator_->show();
    messageTextField_->show();
    raise();
    show();
    update();
}

void ProgressHUDView::StopAddSpinning() {
    hide();
    update();
    spinProgressIndicator_->stopAnimation();
    spinProgressIndicator_->hide();
}

void ProgressHUDView::SetMessageString(const QString& message) {
    spinProgressIndicator_->stopAnimation();
    spinProgressIndicator_->hide();
    messageTextField_->setText(message);
    messageTextField_->show();
    raise();
    show();
    update();
}

void ProgressHUDView::removeMessageString() {
    hide();
    update();
    messageTextField_->hide();
}

QRadialGradient ProgressHUDView::DimmingGradient(const QSizeF& size) {
    const QPointF centre(size.width() / 2.0, size.height() / 2.0);
    const qreal radius = static_cast<float>(std::max(size.width(), size.height()));
    QRadialGradient gradient(centre, radius);
    gradient.setColorAt(0.0, QColor::fromRgbF(0, 0, 0, 0));
    gradient.setColorAt(1.0, QColor::fromRgbF(0, 0, 0, 0.75));
    // Beyond the end radius the end colour goes on.
    gradient.setSpread(QGradient::PadSpread);
    return gradient;
}

void ProgressHUDView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), DimmingGradient(size()));
}

// The overlay swallows the mouse so that nothing under it reacts.
void ProgressHUDView::mousePressEvent(QMouseEvent* event) { event->accept(); }
void ProgressHUDView::mouseReleaseEvent(QMouseEvent* event) { event->accept(); }
void ProgressHUDView::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }
void ProgressHUDView::mouseMoveEvent(QMouseEvent* event) { event->accept(); }
void ProgressHUDView::wheelEvent(QWheelEvent* event) { event->accept(); }
void ProgressHUDView::contextMenuEvent(QContextMenuEvent* event) { event->accept(); }
