#pragma once

#include <QList>

#include "SettingsServices.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QObject;
class QSlider;
class QWidget;
class NumberField;
class PageCountNumberField;
class ResolutionComboBox;
class Stepper;

namespace settings {

// The main window's conversion settings controls, each named after its outlet (its objectName).
// Pop-up menus are combo boxes whose items carry their tags as item data.
struct MainSettingsWidgets {
    // In the settings view.
    QLabel* destinationImageTypeEditFieldOutlet = nullptr;
    QComboBox* destinationImageTypePopUpOutlet = nullptr;  // tags 1..23; the tag 23 item is the multi-page TIFF
    QComboBox* textFormatTypeOutlet = nullptr;             // text formats; the main window hides it
    QLabel* colorModelEditFieldOutlet = nullptr;
    QComboBox* colorModelPopUpOutlet = nullptr;  // tags 1 RGB, 2 CMYK, 3 grey
    QLabel* imageCompressionQuaityLabelOutlet = nullptr;
    QSlider* imageCompressionQuaitySliderOutlet = nullptr;
    QLabel* imageCompressionLeastQuaityEditFieldOutlet = nullptr;
    QLabel* imageCompressionMediumQuaityEditFieldOutlet = nullptr;
    QLabel* imageCompressionLosseessQuaityEditFieldOutlet = nullptr;
    QLabel* resolutionStaticText = nullptr;
    ResolutionComboBox* imageResolutionPopUpOutlet = nullptr;
    QLabel* resolutionDpiStaticText = nullptr;
    // The dimensions view.
    QWidget* imageDimentionsViewOutlet = nullptr;
    QLabel* widthLabel = nullptr;
    NumberField* widthTextField = nullptr;
    QLabel* heightLabel = nullptr;
    NumberField* heightTextField = nullptr;
    QComboBox* sizeFormatTypePopupButton = nullptr;  // tags 2..6
    QFrame* lockLinesBox1 = nullptr;
    QFrame* lockLinesBox2 = nullptr;
    QFrame* lockLinesBox3 = nullptr;
    QLabel* lockUnlockImageView = nullptr;
    // The page-range view.
    QWidget* pageRangeViewOutlet = nullptr;
    QComboBox* pageRangeTypePopUpButtonOutlet = nullptr;  // tags 0 all, 1 one page, 2 from-to
    QLabel* pageFromStaticTextOutlet = nullptr;
    PageCountNumberField* pageRangeStartTextFieldOutlet = nullptr;
    Stepper* pageRangeStartStepperOutlet = nullptr;
    QLabel* pageToStaticTextOutlet = nullptr;
    PageCountNumberField* pageRangeEndTextFieldOutlet = nullptr;
    Stepper* pageRangeEndStepperOutlet = nullptr;
    // Below the settings.
    QComboBox* convertOrExtractOptionPopupOutlet = nullptr;  // tags 1 convert, 2 extract
    QCheckBox* createSeparateFolderForEachFileButtonOutlet = nullptr;
    // Retitled by the convert/extract choice: buttons, actions (menu, context-menu and toolbar
    // items) and toolbar items. The window adds them once it has made them.
    QList<QObject*> convertTitleTargets;     // exportButton, exportMenuItem, exportContextMenuItem, exportToolbarButtonItem
    QList<QObject*> convertAllTitleTargets;  // the same four of "exportAll..."
};

// Makes the controls with their items, initial texts and frames: the format, colour, quality and
// resolution controls in `settingsView` (the fixed-size settings view), the dimensions and
// page-range views as hidden children of it (start-up places and shows them), the mode menu and
// the per-file-folder checkbox as children of `lowerRow`. Texts come from `services`.
MainSettingsWidgets BuildMainSettingsControls(QWidget* settingsView, QWidget* lowerRow, const Services& services);

}  // namespace settings
