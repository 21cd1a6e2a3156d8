#pragma once

#include <QComboBox>
#include <QLineEdit>

#include <cstdint>

#include "NumberFieldRules.h"

// Text fields and combo boxes that keep their text a number while the user types and when the
// editing ends. They correct the text rather than refuse keystrokes: the user may type "12a" and
// sees "12". The window's code listens to textDidChange and textDidEndEditing, which come after
// the correction, so it only ever sees corrected text. Text set by the program is not corrected.
//
// Editing ends with Return or Enter and when the field loses the keyboard focus (but not when a
// menu pops up or another window becomes active).

class ValidatedNumberField : public QLineEdit {
    Q_OBJECT
public:
    explicit ValidatedNumberField(numberfield::FieldRule rule, QWidget* parent = nullptr);

    numberfield::FieldRule rule() const { return rule_; }

    // The number at the start of the text, or 0 (the platform's number accessors).
    std::int32_t intValue() const { return numberfield::IntValue(text()); }
    std::int64_t integerValue() const { return numberfield::LongLongValue(text()); }
    float floatValue() const { return numberfield::FloatValue(text()); }
    double doubleValue() const { return numberfield::DoubleValue(text()); }
    void setIntegerValue(std::int64_t value) { setText(numberfield::FormatInteger(value)); }
    void setFloatValue(float value) { setText(numberfield::FormatFloat(value)); }
    void setDoubleValue(double value) { setText(numberfield::FormatDouble(value)); }

    // Applies the end-of-editing rule and reports it (also called by Return and focus loss).
    void endEditing();

signals:
    void textDidChange(const QString& text);
    void textDidEndEditing(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void TextEdited();

    numberfield::FieldRule rule_;
};

class ValidatedNumberComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit ValidatedNumberComboBox(numberfield::FieldRule rule, QWidget* parent = nullptr);

    numberfield::FieldRule rule() const { return rule_; }
    std::int64_t integerValue() const { return numberfield::LongLongValue(currentText()); }
    void setIntegerValue(std::int64_t value) { setEditText(numberfield::FormatInteger(value)); }

    void endEditing();

signals:
    void textDidChange(const QString& text);
    void textDidEndEditing(const QString& text);

protected:
    void focusOutEvent(QFocusEvent* event) override;

private:
    void TextEdited();

    numberfield::FieldRule rule_;
};

// Used by the main window and the preference sheet.
class NumberField : public ValidatedNumberField {
    Q_OBJECT
public:
    explicit NumberField(QWidget* parent = nullptr) : ValidatedNumberField(numberfield::FieldRule::Number, parent) {}
};

class PageCountNumberField : public ValidatedNumberField {
    Q_OBJECT
public:
    explicit PageCountNumberField(QWidget* parent = nullptr) : ValidatedNumberField(numberfield::FieldRule::PageCount, parent) {}
};

// For further settings (counts, sizes, angles, offsets, scales, page lists).
class WholeNumberField : public ValidatedNumberField {
    Q_OBJECT
public:
    explicit WholeNumberField(QWidget* parent = nullptr) : ValidatedNumberField(numberfield::FieldRule::WholeNumber, parent) {}
};

class ZeroCountNumberField : public ValidatedNumberField {
    Q_OBJECT
public:
    explicit ZeroCountNumberField(QWidget* parent = nullptr) : ValidatedNumberField(numberfield::FieldRule::ZeroCount, parent) {}
};

class StartDigitNumberField : public ValidatedNumberField {
    Q_OBJECT
public:
    explicit StartDigitNumberField(QWidget* parent = nullptr) : ValidatedNumberField(numberfield::FieldRule::StartDigit, parent) {}
};

class FileSizeNumberField : public ValidatedNumberField {
    Q_OBJECT
public:
    explicit FileSizeNumberField(QWidget* parent = nullptr) : ValidatedNumberField(numberfield::FieldRule::FileSize, parent) {}
};

class FontSizeNumberField : public ValidatedNumberField {
    Q_OBJECT
public:
    explicit FontSizeNumberField(QWidget* parent = nullptr) : ValidatedNumberField(numberfield::FieldRule::FontSize, parent) {}
};

class RotationAngleNumberField : public ValidatedNumberField {
    Q_OBJECT
public:
    explicit RotationAngleNumberField(QWidget* parent = nullptr) : ValidatedNumberField(numberfield::FieldRule::RotationAngle, parent) {}
};

class ShadowBlurNumberField : public ValidatedNumberField {
    Q_OBJECT
public:
    explicit ShadowBlurNumberField(QWidget* parent = nullptr) : ValidatedNumberField(numberfield::FieldRule::ShadowBlur, parent) {}
};

class ShadowXOffsetNumberField : public ValidatedNumberField {
    Q_OBJECT
public:
    explicit ShadowXOffsetNumberField(QWidget* parent = nullptr) : ValidatedNumberField(numberfield::FieldRule::ShadowOffset, parent) {}
};

class ShadowYOffsetNumberField : public ValidatedNumberField {
    Q_OBJECT
public:
    explicit ShadowYOffsetNumberField(QWidget* parent = nullptr) : ValidatedNumberField(numberfield::FieldRule::ShadowOffset, parent) {}
};

class PDFScaleNumberField : public ValidatedNumberField {
    Q_OBJECT
public:
    explicit PDFScaleNumberField(QWidget* parent = nullptr) : ValidatedNumberField(numberfield::FieldRule::PDFScale, parent) {}
};

class CharSpaceField : public ValidatedNumberField {
    Q_OBJECT
public:
    explicit CharSpaceField(QWidget* parent = nullptr) : ValidatedNumberField(numberfield::FieldRule::CharSpace, parent) {}
};

class PageRangeNumberField : public ValidatedNumberField {
    Q_OBJECT
public:
    explicit PageRangeNumberField(QWidget* parent = nullptr) : ValidatedNumberField(numberfield::FieldRule::PageRange, parent) {}
};

class ScaleComboBox : public ValidatedNumberComboBox {
    Q_OBJECT
public:
    explicit ScaleComboBox(QWidget* parent = nullptr) : ValidatedNumberComboBox(numberfield::FieldRule::Scale, parent) {}
};

// The resolution box: an editable list of resolutions in dots per inch.
class ResolutionComboBox : public ValidatedNumberComboBox {
    Q_OBJECT
public:
    explicit ResolutionComboBox(QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};
