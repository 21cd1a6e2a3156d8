#include "MainSettingsControls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QSlider>

#include "InterfaceGeometry.h"
#include "LockImage.h"
#include "NamedWidgets.h"
#include "NumberFields.h"
#include "PopUpItems.h"
#include "SettingsMenus.h"
#include "Stepper.h"
#include "engine/ImageConversion.h"

namespace settings {

namespace {

using geometry::Fitted;
using geometry::SetFrame;

QLabel* MakeCaption(QWidget* parent, const char* name, const QString& text, Qt::Alignment alignment) {
    QLabel* caption = MakeLabel(parent, name, text, alignment | Qt::AlignVCenter);
    QFont small = caption->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    caption->setFont(small);
    return caption;
}

// The text formats in the order the menu offers them, tagged with their codes.
struct TaggedTitle {
    const char* title;
    int tag;
};
constexpr TaggedTitle kTextFormats[] = {
    {"Plain Text", 1}, {"RTF", 2}, {"RTFD", 3}, {"DOC", 4}, {"DOCX", 5}, {"ODT", 6},
};

// Frame sizes of the views, in points.
constexpr QSize kPageRangeViewSize(150, 94);
constexpr QSize kDimensionsViewSize(240, 70);

void BuildSettingsView(MainSettingsWidgets& w, QWidget* view, const Services& services) {
    w.destinationImageTypeEditFieldOutlet = MakeLabel(view, "destinationImageTypeEditFieldOutlet", QString());
    w.destinationImageTypePopUpOutlet = Named(new QComboBox(view), "destinationImageTypePopUpOutlet");
    AddOutputTypeItems(w.destinationImageTypePopUpOutlet);
    popup::SelectTag(w.destinationImageTypePopUpOutlet, kOutputJPEG);
    w.textFormatTypeOutlet = Named(new QComboBox(view), "textFormatTypeOutlet");
    for (const TaggedTitle& format : kTextFormats)
        popup::AddTaggedItem(w.textFormatTypeOutlet, QString::fromLatin1(format.title), format.tag);

    w.colorModelEditFieldOutlet = MakeLabel(view, "colorModelEditFieldOutlet", services.Text("ColorModelLabel"));
    w.colorModelPopUpOutlet = Named(new QComboBox(view), "colorModelPopUpOutlet");
    AddColorModelItems(w.colorModelPopUpOutlet, services);

    w.imageCompressionQuaitySliderOutlet = Named(new QSlider(Qt::Horizontal, view), "imageCompressionQuaitySliderOutlet");
    w.imageCompressionQuaitySliderOutlet->setRange(0, 100);  // hundredths of the quality from 0 to 1
    w.imageCompressionQuaitySliderOutlet->setValue(80);
    w.imageCompressionQuaityLabelOutlet =
        MakeLabel(view, "imageCompressionQuaityLabelOutlet", QStringLiteral("JPEG Quality (%1%):").arg(80));
    w.imageCompressionLeastQuaityEditFieldOutlet = MakeCaption(view, "imageCompressionLeastQuaityEditFieldOutlet",
                                                               services.Text("QualityLeastCaption"), Qt::AlignLeft);
    w.imageCompressionMediumQuaityEditFieldOutlet = MakeCaption(view, "imageCompressionMediumQuaityEditFieldOutlet",
                                                                services.Text("QualityMediumCaption"), Qt::AlignHCenter);
    w.imageCompressionLosseessQuaityEditFieldOutlet = MakeCaption(view, "imageCompressionLosseessQuaityEditFieldOutlet",
                                                                  services.Text("QualityBestCaption"), Qt::AlignRight);

    w.resolutionStaticText = MakeLabel(view, "resolutionStaticText", services.Text("ResolutionLabel"));
    w.imageResolutionPopUpOutlet = Named(new ResolutionComboBox(view), "imageResolutionPopUpOutlet");
    w.resolutionDpiStaticText =
        MakeLabel(view, "resolutionDpiStaticText", services.Text("DpiLabel"), Qt::AlignLeft | Qt::AlignVCenter);

    // Frames: x and y of the lower-left corner in the view, y upwards.
    SetFrame(w.destinationImageTypeEditFieldOutlet, 20, 84, 126, Fitted(w.destinationImageTypeEditFieldOutlet));
    SetFrame(w.destinationImageTypePopUpOutlet, 150, 80, 180, Fitted(w.destinationImageTypePopUpOutlet));
    SetFrame(w.textFormatTypeOutlet, 150, 80, 180, Fitted(w.textFormatTypeOutlet));
    SetFrame(w.colorModelEditFieldOutlet, 20, 54, 126, Fitted(w.colorModelEditFieldOutlet));
    SetFrame(w.colorModelPopUpOutlet, 150, 50, 180, Fitted(w.colorModelPopUpOutlet));
    SetFrame(w.imageCompressionQuaityLabelOutlet, 10, 24, 136, Fitted(w.imageCompressionQuaityLabelOutlet));
    SetFrame(w.imageCompressionQuaitySliderOutlet, 150, 22, 260, Fitted(w.imageCompressionQuaitySliderOutlet));
    SetFrame(w.imageCompressionLeastQuaityEditFieldOutlet, 150, 4, 60, Fitted(w.imageCompressionLeastQuaityEditFieldOutlet));
    SetFrame(w.imageCompressionMediumQuaityEditFieldOutlet, 250, 4, 60,
             Fitted(w.imageCompressionMediumQuaityEditFieldOutlet));
    SetFrame(w.imageCompressionLosseessQuaityEditFieldOutlet, 350, 4, 60,
             Fitted(w.imageCompressionLosseessQuaityEditFieldOutlet));
    SetFrame(w.resolutionStaticText, 440, 11, 80, Fitted(w.resolutionStaticText));
    SetFrame(w.imageResolutionPopUpOutlet, 520, 7, 72, Fitted(w.imageResolutionPopUpOutlet));
    SetFrame(w.resolutionDpiStaticText, 600, 11, 30, Fitted(w.resolutionDpiStaticText));
}

void BuildImageDimensionsView(MainSettingsWidgets& w, QWidget* parent, const Services& services) {
    QWidget* view = w.imageDimentionsViewOutlet = Named(new QWidget(parent), "imageDimentionsViewOutlet");
    view->setFixedSize(kDimensionsViewSize);
    view->hide();

    w.widthLabel = MakeLabel(view, "widthLabel", services.Text("WidthLabel"));
    w.widthTextField = Named(new NumberField(view), "widthTextField");
    w.heightLabel = MakeLabel(view, "heightLabel", services.Text("HeightLabel"));
    w.heightTextField = Named(new NumberField(view), "heightTextField");
    w.lockLinesBox1 = MakeLine(view, "lockLinesBox1");
    w.lockLinesBox2 = MakeLine(view, "lockLinesBox2");
    w.lockLinesBox3 = MakeLine(view, "lockLinesBox3");
    w.lockUnlockImageView = Named(new QLabel(view), "lockUnlockImageView");
    w.lockUnlockImageView->setPixmap(LockImage(view->palette()));
    w.lockUnlockImageView->setAlignment(Qt::AlignCenter);
    w.sizeFormatTypePopupButton = Named(new QComboBox(view), "sizeFormatTypePopupButton");
    AddSizeUnitItems(w.sizeFormatTypePopupButton, services);

    const int field = Fitted(w.widthTextField);
    SetFrame(w.widthLabel, 0, 44, 50, Fitted(w.widthLabel));
    SetFrame(w.widthTextField, 54, 40, 70, field);
    SetFrame(w.heightLabel, 0, 10, 50, Fitted(w.heightLabel));
    SetFrame(w.heightTextField, 54, 6, 70, field);
    // Brackets from the middle of each field to the lock.
    const int upper = 40 + field / 2;
    const int lower = 6 + field / 2;
    SetFrame(w.lockLinesBox1, 126, upper, 10, 1);
    SetFrame(w.lockLinesBox2, 135, lower, 1, upper - lower + 1);
    SetFrame(w.lockLinesBox3, 126, lower, 10, 1);
    SetFrame(w.lockUnlockImageView, 138, (upper + lower) / 2 - 9, 16, 18);
    // A unit name longer than the frame widens the menu, and the view with it.
    QComboBox* unit = w.sizeFormatTypePopupButton;
    const int unitWidth = geometry::FittedWidth(unit, 82);
    view->setFixedSize(kDimensionsViewSize + QSize(unitWidth - 82, 0));
    SetFrame(unit, 158, (upper + lower) / 2 - Fitted(unit) / 2, unitWidth, Fitted(unit));
}

void BuildPageRangeView(MainSettingsWidgets& w, QWidget* parent, const Services& services) {
    QWidget* view = w.pageRangeViewOutlet = Named(new QWidget(parent), "pageRangeViewOutlet");
    view->setFixedSize(kPageRangeViewSize);
    view->hide();

    QLabel* title = MakeLabel(view, "pageRangeTitleStaticText", services.Text("PagesLabel"));
    w.pageRangeTypePopUpButtonOutlet = Named(new QComboBox(view), "pageRangeTypePopUpButtonOutlet");
    AddPageRangeItems(w.pageRangeTypePopUpButtonOutlet, services);
    w.pageFromStaticTextOutlet = MakeLabel(view, "pageFromStaticTextOutlet", QString());
    w.pageFromStaticTextOutlet->hide();
    w.pageRangeStartTextFieldOutlet = Named(new PageCountNumberField(view), "pageRangeStartTextFieldOutlet");
    w.pageRangeStartStepperOutlet = Named(new Stepper(view), "pageRangeStartStepperOutlet");
    w.pageToStaticTextOutlet = MakeLabel(view, "pageToStaticTextOutlet", QString());
    w.pageRangeEndTextFieldOutlet = Named(new PageCountNumberField(view), "pageRangeEndTextFieldOutlet");
    w.pageRangeEndStepperOutlet = Named(new Stepper(view), "pageRangeEndStepperOutlet");
    for (PageCountNumberField* f : {w.pageRangeStartTextFieldOutlet, w.pageRangeEndTextFieldOutlet})
        f->setAlignment(Qt::AlignRight);

    const int field = Fitted(w.pageRangeStartTextFieldOutlet);
    SetFrame(title, 0, 70, 54, Fitted(title));
    SetFrame(w.pageRangeTypePopUpButtonOutlet, 58, 66, 80, Fitted(w.pageRangeTypePopUpButtonOutlet));
    SetFrame(w.pageFromStaticTextOutlet, 10, 45, 44, Fitted(w.pageFromStaticTextOutlet));
    SetFrame(w.pageRangeStartTextFieldOutlet, 58, 40, 45, field);
    SetFrame(w.pageRangeStartStepperOutlet, 105, 37, 16, field + 6);
    SetFrame(w.pageToStaticTextOutlet, 10, 15, 44, Fitted(w.pageToStaticTextOutlet));
    SetFrame(w.pageRangeEndTextFieldOutlet, 58, 10, 45, field);
    SetFrame(w.pageRangeEndStepperOutlet, 105, 7, 16, field + 6);
}

}  // namespace

MainSettingsWidgets BuildMainSettingsControls(QWidget* settingsView, QWidget* lowerRow, const Services& services) {
    MainSettingsWidgets w;
    BuildSettingsView(w, settingsView, services);
    BuildImageDimensionsView(w, settingsView, services);
    BuildPageRangeView(w, settingsView, services);
    w.convertOrExtractOptionPopupOutlet = Named(new QComboBox(lowerRow), "convertOrExtractOptionPopupOutlet");
    AddModeItems(w.convertOrExtractOptionPopupOutlet, services);
    w.createSeparateFolderForEachFileButtonOutlet = Named(
        new QCheckBox(services.Text("SeparateFolderCheckbox"), lowerRow), "createSeparateFolderForEachFileButtonOutlet");
    w.createSeparateFolderForEachFileButtonOutlet->setChecked(true);
    return w;
}

}  // namespace settings
