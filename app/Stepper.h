#pragma once

#include <QWidget>

class QToolButton;

// A pair of small arrow buttons that step an integer value up and down within a range, for use
// beside a number field.
class Stepper : public QWidget {
    Q_OBJECT
    // The settings code finds steppers by this property and its notify signal.
    Q_PROPERTY(int value READ value WRITE setValue NOTIFY valueChanged)
public:
    explicit Stepper(QWidget* parent = nullptr);

    int value() const { return value_; }
    void setValue(int value);  // clamped to the range; no signal
    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }
    void setRange(int minimum, int maximum);
    int singleStep() const { return singleStep_; }
    void setSingleStep(int step) { singleStep_ = step > 0 ? step : 1; }

    void stepUp();
    void stepDown();

    QSize sizeHint() const override;

signals:
    // The user stepped the value.
    void valueChanged(int value);

protected:
    void changeEvent(QEvent* event) override;

private:
    void StepBy(int steps);

    QToolButton* up_;
    QToolButton* down_;
    int value_ = 1;
    int minimum_ = 1;
    int maximum_ = 99999;
    int singleStep_ = 1;
};
