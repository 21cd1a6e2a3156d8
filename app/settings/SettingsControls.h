#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>

#include "SettingsServices.h"

class QAbstractSlider;
class QComboBox;
class QLabel;
class QLineEdit;
class QWidget;

// Widget-level pieces shared by the main window's settings and the preference sheet.
namespace settings {

// --- Tagged pop-up menus --------------------------------------------------------------------
// A menu's items carry their tags (output type, colour model, unit, range type, mode) as item
// data (Qt::UserRole); the menu's model is the combo box's own item model.
int SelectedTag(const QComboBox* box);  // -1 when nothing is selected
// Selects the item with the tag; false, with the selection unchanged, when no item carries it.
bool SelectTag(QComboBox* box, int tag);
void SetTagEnabled(QComboBox* box, int tag, bool enabled);
bool IsTagEnabled(const QComboBox* box, int tag);
// A hidden item is left out of the menu's list and cannot be chosen from the keyboard either.
void SetTagHidden(QComboBox* box, int tag, bool hidden);
bool IsTagHidden(const QComboBox* box, int tag);

// --- Field texts ----------------------------------------------------------------------------
// The text of a line edit, or of a combo box (its edit text when editable).
QString FieldText(const QWidget* field);
void SetFieldText(QWidget* field, const QString& text);

// --- Steppers -------------------------------------------------------------------------------
// A stepper is any widget with an integer property "value" (a spin box, or the application's
// stepper) whose notify signal reports the user's steps. Setting it from here reports nothing.
bool IsUsableStepper(const QWidget* stepper);
int StepperValue(const QWidget* stepper);
void SetStepperValue(QWidget* stepper, int value);

// --- Signals of user edits ------------------------------------------------------------------
// Connects the user's edits of a line edit or editable combo box to `slot` of `receiver` (a
// slot signature such as "OnEdited()"). A field that corrects its text as it is typed reports
// through its signal "textDidChange(QString)", after the correction; a plain one through
// textEdited. False when there is nothing to connect.
bool ConnectUserTextChange(QWidget* field, QObject* receiver, const char* slot);
// Connects a stepper's notify signal of "value" to `slot` of `receiver`.
bool ConnectStepper(QWidget* stepper, QObject* receiver, const char* slot);

// --- Quality slider -------------------------------------------------------------------------
// Keeps a slider's quality as the exact double it was given (0.555 stays 0.555, and shows 55 %),
// over a slider of 1000 steps. Attached to the slider as a child object.
class QualitySlider : public QObject {
    Q_OBJECT
public:
    static constexpr int kSteps = 1000;

    // The binding of `slider`, made on first use; it sets the slider's range.
    static QualitySlider* Of(QAbstractSlider* slider);

    double value() const { return value_; }
    // Clamped into 0..1; not-a-number is 0. Reports nothing.
    void setValue(double value);
    QAbstractSlider* slider() const;

signals:
    // The user moved the slider.
    void userChanged(double value);

private:
    explicit QualitySlider(QAbstractSlider* slider);
    void SliderMoved(int position);

    double value_ = 0;
};

// --- Controls that follow the output type and the mode ---------------------------------------
struct TypeControls {
    QComboBox* typePopup = nullptr;
    QComboBox* colorPopup = nullptr;
    QWidget* colorLabel = nullptr;
    QAbstractSlider* qualitySlider = nullptr;
    QList<QWidget*> qualityLabels;  // the quality label and the captions under the slider
    QComboBox* resolutionBox = nullptr;
    QList<QWidget*> resolutionLabels;
    QList<QWidget*> sizeControls;     // width and height fields, their labels, the unit menu
    QList<QWidget*> lockDecorations;  // the line boxes and the lock image
};

// The per-type rules: with `convertRules`, the resolution box (on, or "72" and off) and the
// colour models offered (a selection outside them becomes RGB); in every case the quality
// controls (on for JPEG 2000 and JPEG).
void ApplyOutputTypeRules(const TypeControls& controls, bool convertRules);
// The part of the convert/extract rules that both windows share. Extract: colour, resolution
// and size controls off, a selected multi-page TIFF becomes TIFF and its item is hidden.
// Convert: colour and size controls on, the multi-page TIFF item shown; the caller then applies
// the per-type rules, which decide the resolution box.
void ApplyModeRules(const TypeControls& controls, bool extract);

// The checks of a resolution box before it is used: a disabled box passes; a value in 1..4608
// passes, above 800 only when the user confirms; anything else is refused. On failure the box's
// window comes to the front with the box focused. Alerts are shown on the box's window.
bool CheckResolutionIsValid(QComboBox* box, const Services& services);

// Brings the widget's window to the front and gives the widget the keyboard focus.
void MakeFirstResponder(QWidget* widget);

// Sets the title of a button, action (text and icon text, so toolbar buttons follow) or any
// object with a "text" property.
void SetTitle(QObject* target, const QString& title);

}  // namespace settings
