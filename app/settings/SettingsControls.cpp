#include "SettingsControls.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QMetaProperty>
#include <QSignalBlocker>
#include <QStandardItemModel>

#include <cmath>

#include "PreferenceStore.h"
#include "SettingsRules.h"

namespace settings {

// --- Tagged pop-up menus --------------------------------------------------------------------

int SelectedTag(const QComboBox* box) {
    if (!box) return -1;
    const QVariant tag = box->currentData();
    return tag.isValid() ? tag.toInt() : -1;
}

bool SelectTag(QComboBox* box, int tag) {
    if (!box) return false;
    const int index = box->findData(tag);
    if (index < 0) return false;
    box->setCurrentIndex(index);
    return true;
}

namespace {

QStandardItem* ItemOfTag(const QComboBox* box, int tag) {
    if (!box) return nullptr;
    auto* model = qobject_cast<QStandardItemModel*>(box->model());
    const int index = box->findData(tag);
    return model && index >= 0 ? model->item(index) : nullptr;
}

}  // namespace

void SetTagEnabled(QComboBox* box, int tag, bool enabled) {
    if (QStandardItem* item = ItemOfTag(box, tag)) item->setEnabled(enabled);
}

bool IsTagEnabled(const QComboBox* box, int tag) {
    const QStandardItem* item = ItemOfTag(box, tag);
    return item && item->isEnabled();
}

void SetTagHidden(QComboBox* box, int tag, bool hidden) {
    QStandardItem* item = ItemOfTag(box, tag);
    if (!item) return;
    // The keyboard skips disabled items; the list view leaves out hidden rows.
    item->setEnabled(!hidden);
    if (auto* view = qobject_cast<QListView*>(box->view())) view->setRowHidden(item->row(), hidden);
}

bool IsTagHidden(const QComboBox* box, int tag) {
    const QStandardItem* item = ItemOfTag(box, tag);
    auto* view = box ? qobject_cast<QListView*>(box->view()) : nullptr;
    return item && view && view->isRowHidden(item->row());
}

// --- Field texts ----------------------------------------------------------------------------

QString FieldText(const QWidget* field) {
    if (const auto* edit = qobject_cast<const QLineEdit*>(field)) return edit->text();
    if (const auto* box = qobject_cast<const QComboBox*>(field)) return box->currentText();
    return {};
}

void SetFieldText(QWidget* field, const QString& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(field)) {
        edit->setText(text);
    } else if (auto* box = qobject_cast<QComboBox*>(field)) {
        if (box->isEditable()) {
            box->setEditText(text);
        } else {
            const int index = box->findText(text);
            if (index >= 0) box->setCurrentIndex(index);
        }
    }
}

// --- Steppers -------------------------------------------------------------------------------

bool IsUsableStepper(const QWidget* stepper) {
    if (!stepper) return false;
    const QMetaObject* meta = stepper->metaObject();
    const int index = meta->indexOfProperty("value");
    if (index < 0) return false;
    const QMetaProperty property = meta->property(index);
    return property.isWritable() && property.hasNotifySignal();
}

int StepperValue(const QWidget* stepper) { return stepper ? stepper->property("value").toInt() : 0; }

void SetStepperValue(QWidget* stepper, int value) {
    if (!stepper) return;
    const QSignalBlocker quiet(stepper);
    stepper->setProperty("value", value);
}

// --- Signals of user edits ------------------------------------------------------------------

namespace {

bool ConnectBySignature(QObject* sender, const char* signal, QObject* receiver, const char* slot) {
    if (!sender || !receiver) return false;
    const int signalIndex = sender->metaObject()->indexOfSignal(QMetaObject::normalizedSignature(signal).constData());
    const int slotIndex = receiver->metaObject()->indexOfSlot(QMetaObject::normalizedSignature(slot).constData());
    if (signalIndex < 0 || slotIndex < 0) return false;
    return static_cast<bool>(QObject::connect(sender, sender->metaObject()->method(signalIndex), receiver,
                                              receiver->metaObject()->method(slotIndex)));
}

}  // namespace

bool ConnectUserTextChange(QWidget* field, QObject* receiver, const char* slot) {
    if (ConnectBySignature(field, "textDidChange(QString)", receiver, slot)) return true;
    if (auto* edit = qobject_cast<QLineEdit*>(field)) return ConnectBySignature(edit, "textEdited(QString)", receiver, slot);
    if (auto* box = qobject_cast<QComboBox*>(field); box && box->lineEdit())
        return ConnectBySignature(box->lineEdit(), "textEdited(QString)", receiver, slot);
    return false;
}

bool ConnectStepper(QWidget* stepper, QObject* receiver, const char* slot) {
    if (!IsUsableStepper(stepper)) return false;
    const QMetaObject* meta = stepper->metaObject();
    const QMetaMethod signal = meta->property(meta->indexOfProperty("value")).notifySignal();
    const int slotIndex = receiver->metaObject()->indexOfSlot(QMetaObject::normalizedSignature(slot).constData());
    if (slotIndex < 0) return false;
    return static_cast<bool>(QObject::connect(stepper, signal, receiver, receiver->metaObject()->method(slotIndex)));
}

// --- Quality slider -------------------------------------------------------------------------

QualitySlider::QualitySlider(QAbstractSlider* slider) : QObject(slider) {
    setObjectName(QStringLiteral("qualitySliderBinding"));
    // The slider may come with a range of its own: its position is kept as a fraction.
    const int span = slider->maximum() - slider->minimum();
    value_ = span > 0 ? static_cast<double>(slider->value() - slider->minimum()) / span : 0.0;
    {
        const QSignalBlocker quiet(slider);
        slider->setRange(0, kSteps);
        slider->setSingleStep(kSteps / 100);
        slider->setPageStep(kSteps / 10);
        slider->setValue(static_cast<int>(std::lround(value_ * kSteps)));
    }
    connect(slider, &QAbstractSlider::valueChanged, this, &QualitySlider::SliderMoved);
}

QualitySlider* QualitySlider::Of(QAbstractSlider* slider) {
    if (!slider) return nullptr;
    if (auto* binding = slider->findChild<QualitySlider*>(QString(), Qt::FindDirectChildrenOnly)) return binding;
    return new QualitySlider(slider);
}

QAbstractSlider* QualitySlider::slider() const { return static_cast<QAbstractSlider*>(parent()); }

void QualitySlider::setValue(double value) {
    value_ = std::isnan(value) ? 0.0 : value < 0 ? 0.0 : value > 1 ? 1.0 : value;
    const QSignalBlocker quiet(slider());
    slider()->setValue(static_cast<int>(std::lround(value_ * kSteps)));
}

void QualitySlider::SliderMoved(int position) {
    value_ = static_cast<double>(position) / kSteps;
    emit userChanged(value_);
}

// --- Controls that follow the output type and the mode ---------------------------------------

namespace {

void SetEnabled(const QList<QWidget*>& widgets, bool enabled) {
    for (QWidget* widget : widgets)
        if (widget) widget->setEnabled(enabled);
}

}  // namespace

void ApplyOutputTypeRules(const TypeControls& controls, bool convertRules) {
    const int type = SelectedTag(controls.typePopup);
    if (convertRules) {
        const bool resolution = ResolutionEnabledForType(type);
        // The box keeps "72" when a type with a resolution is chosen later.
        if (!resolution && controls.resolutionBox) SetFieldText(controls.resolutionBox, QStringLiteral("72"));
        if (controls.resolutionBox) controls.resolutionBox->setEnabled(resolution);
        SetEnabled(controls.resolutionLabels, resolution);
    }

    const bool quality = QualityEnabledForType(type);
    if (controls.qualitySlider) controls.qualitySlider->setEnabled(quality);
    SetEnabled(controls.qualityLabels, quality);

    if (convertRules && controls.colorPopup) {
        const int selected = SelectedTag(controls.colorPopup);
        const int kept = ColorModelAfterTypeChange(type, selected);
        if (kept != selected) SelectTag(controls.colorPopup, kept);
        const ColorModels offered = EnabledColorModelsForType(type);
        SetTagEnabled(controls.colorPopup, kColorRGB, offered.rgb);
        SetTagEnabled(controls.colorPopup, kColorCMYK, offered.cmyk);
        SetTagEnabled(controls.colorPopup, kColorGray, offered.gray);
    }
}

void ApplyModeRules(const TypeControls& controls, bool extract) {
    const bool on = !extract;
    if (controls.colorLabel) controls.colorLabel->setEnabled(on);
    if (controls.colorPopup) controls.colorPopup->setEnabled(on);
    if (extract) {
        if (controls.resolutionBox) controls.resolutionBox->setEnabled(false);
        SetEnabled(controls.resolutionLabels, false);
    }
    SetEnabled(controls.sizeControls, on);
    SetEnabled(controls.lockDecorations, on);
    if (extract && SelectedTag(controls.typePopup) == kMultiPageTIFFOutputType)
        SelectTag(controls.typePopup, kTIFFOutputType);
    SetTagHidden(controls.typePopup, kMultiPageTIFFOutputType, extract);
}

bool CheckResolutionIsValid(QComboBox* box, const Services& services) {
    if (!box || !box->isEnabled()) return true;
    QWidget* window = box->window();
    const std::int64_t value = IntegerValue(FieldText(box));
    if (value >= 1 && value <= kMaximumResolution) {
        if (value <= kResolutionAskedAbove) return true;
        const int answer = services.Alert(window, services.Format("HighValueTitle", QString::number(value)),
                                          services.Text("HighValueMsg"), services.Text("YesButtonTitle"),
                                          services.Text("CancelTitle"));
        if (answer == 1) return true;
    } else {
        services.Alert(window, services.Format("InvalidValueTitle", FieldText(box)), services.Text("InvalidValueMsg"),
                       services.Text("OkButtonString"));
    }
    MakeFirstResponder(box);
    return false;
}

void MakeFirstResponder(QWidget* widget) {
    if (!widget) return;
    QWidget* window = widget->window();
    window->raise();
    window->activateWindow();
    widget->setFocus(Qt::OtherFocusReason);
}

void SetTitle(QObject* target, const QString& title) {
    if (auto* action = qobject_cast<QAction*>(target)) {
        action->setText(title);
        action->setIconText(title);
    } else if (auto* button = qobject_cast<QAbstractButton*>(target)) {
        button->setText(title);
    } else if (target) {
        target->setProperty("text", title);
    }
}

}  // namespace settings
