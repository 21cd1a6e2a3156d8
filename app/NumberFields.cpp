#include "NumberFields.h"

#include <QFocusEvent>
#include <QKeyEvent>

namespace {

bool EndsEditing(const QFocusEvent* event) {
    // A menu popping up or another window becoming active interrupts the editing only for a
    // moment: the field keeps its editing state, as the platform's fields do.
    return event->reason() != Qt::PopupFocusReason && event->reason() != Qt::ActiveWindowFocusReason;
}

bool IsReturn(const QKeyEvent* event) {
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

// Puts the corrected text in place, keeping the cursor where the user was typing when it can.
void ReplaceText(QLineEdit* edit, const QString& fixed) {
    const int cursor = edit->cursorPosition();
    edit->setText(fixed);
    edit->setCursorPosition(qMin(cursor, static_cast<int>(fixed.size())));
}

}  // namespace

ValidatedNumberField::ValidatedNumberField(numberfield::FieldRule rule, QWidget* parent)
    : QLineEdit(parent), rule_(rule) {
    connect(this, &QLineEdit::textEdited, this, &ValidatedNumberField::TextEdited);
}

void ValidatedNumberField::TextEdited() {
    const QString typed = text();
    const QString fixed = numberfield::FixTypedText(rule_, typed);
    if (fixed != typed) ReplaceText(this, fixed);
    emit textDidChange(text());
}

void ValidatedNumberField::endEditing() {
    const QString current = text();
    const QString fixed = numberfield::FixEndedText(rule_, current);
    if (fixed != current) setText(fixed);
    emit textDidEndEditing(text());
}

void ValidatedNumberField::keyPressEvent(QKeyEvent* event) {
    if (IsReturn(event)) endEditing();
    QLineEdit::keyPressEvent(event);
}

void ValidatedNumberField::focusOutEvent(QFocusEvent* event) {
    if (EndsEditing(event)) endEditing();
    QLineEdit::focusOutEvent(event);
}

ValidatedNumberComboBox::ValidatedNumberComboBox(numberfield::FieldRule rule, QWidget* parent)
    : QComboBox(parent), rule_(rule) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    connect(lineEdit(), &QLineEdit::textEdited, this, &ValidatedNumberComboBox::TextEdited);
    connect(lineEdit(), &QLineEdit::returnPressed, this, &ValidatedNumberComboBox::endEditing);
}

void ValidatedNumberComboBox::TextEdited() {
    QLineEdit* edit = lineEdit();
    const QString typed = edit->text();
    const QString fixed = numberfield::FixTypedText(rule_, typed);
    if (fixed != typed) ReplaceText(edit, fixed);
    emit textDidChange(edit->text());
}

void ValidatedNumberComboBox::endEditing() {
    const QString current = currentText();
    const QString fixed = numberfield::FixEndedText(rule_, current);
    if (fixed != current) setEditText(fixed);
    emit textDidEndEditing(currentText());
}

void ValidatedNumberComboBox::focusOutEvent(QFocusEvent* event) {
    if (EndsEditing(event)) endEditing();
    QComboBox::focusOutEvent(event);
}

ResolutionComboBox::ResolutionComboBox(QWidget* parent)
    : ValidatedNumberComboBox(numberfield::FieldRule::Resolution, parent) {
    // Index 3 (200 dpi) is the box's fallback choice.
    addItems({QStringLiteral("72"), QStringLiteral("96"), QStringLiteral("150"), QStringLiteral("200"),
              QStringLiteral("300"), QStringLiteral("600"), QStringLiteral("1200")});
    setCurrentIndex(3);
}

void ResolutionComboBox::mousePressEvent(QMouseEvent* event) {
    // Opening the list must never take the window down with it.
    try {
        ValidatedNumberComboBox::mousePressEvent(event);
    } catch (...) {
    }
}
