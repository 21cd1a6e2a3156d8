#include "Stepper.h"

#include <QEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

Stepper::Stepper(QWidget* parent) : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
    up_->setObjectName(QStringLiteral("stepUpButton"));
    down_->setObjectName(QStringLiteral("stepDownButton"));
    for (QToolButton* button : {up_, down_}) {
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    connect(up_, &QToolButton::clicked, this, &Stepper::stepUp);
    connect(down_, &QToolButton::clicked, this, &Stepper::stepDown);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(up_);
    layout->addWidget(down_);
}

QSize Stepper::sizeHint() const { return {16, 26}; }

void Stepper::setValue(int value) { value_ = std::clamp(value, minimum_, maximum_); }

void Stepper::setRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = std::max(minimum, maximum);
    setValue(value_);
}

void Stepper::stepUp() { StepBy(1); }
void Stepper::stepDown() { StepBy(-1); }

void Stepper::StepBy(int steps) {
    const long long wanted = static_cast<long long>(value_) + static_cast<long long>(steps) * singleStep_;
    const int next = static_cast<int>(std::clamp<long long>(wanted, minimum_, maximum_));
    if (next == value_) return;
    value_ = next;
    emit valueChanged(value_);
}

void Stepper::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        up_->setEnabled(isEnabled());
        down_->setEnabled(isEnabled());
    }
    QWidget::changeEvent(event);
}
