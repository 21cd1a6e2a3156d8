#include "ProgressHUDView.h"

#include <QContextMenuEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTimerEvent>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>

namespace {
constexpr int kSpokes = 12;
constexpr int kStepMilliseconds = 80;
}  // namespace

SpinningIndicator::SpinningIndicator(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(sizeHint());
}

void SpinningIndicator::startAnimation() {
    if (!timer_.isActive()) timer_.start(kStepMilliseconds, this);
}

void SpinningIndicator::stopAnimation() { timer_.stop(); }

void SpinningIndicator::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timer_.timerId()) return QWidget::timerEvent(event);
    step_ = (step_ + 1) % kSpokes;
    update();
}

void SpinningIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(width(), height());
    painter.translate(width() / 2.0, height() / 2.0);
    // The shadow is clear at the centre, where the indicator turns: it is drawn in the text colour.
    const QColor ink = palette().color(QPalette::WindowText);
    QPen pen(ink, side / 11.0, Qt::SolidLine, Qt::RoundCap);
    for (int i = 0; i < kSpokes; ++i) {
        // The spoke at the current step is darkest; the ones behind it fade out.
        const int age = (step_ - i + kSpokes) % kSpokes;
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
