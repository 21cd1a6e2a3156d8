#include "platform/LocalizedStrings.h"

#include <QHash>

namespace platform {
namespace {

struct Entry {
    const char* key;
    const char* text;
};

// English texts. Keys are grouped by the part of the program that shows them.
constexpr Entry kTexts[] = {
    // Application, main window and quitting
    {"ProAppTitle", "Vellipse"},
    {"ProAboutMenuTitle", "About Vellipse"},
    {"ProHideMenuTitle", "Hide Vellipse"},
    {"ProQuitMenuTitle", "Quit Vellipse"},
    {"ProHelpMenuTitle", "Vellipse Help"},
    {"QuitOnCloseTitle", "The watch folder is active. Do you want to quit Vellipse?"},
    {"QuitOnCloseMessage",
     "While Vellipse is not running, PDF files that arrive in the watch folder are not converted. "
     "Watching resumes the next time you open Vellipse."},
    {"QuitButtonString", "Quit"},
    {"NoButtonTitle", "No"},
    {"AboutText", "Version %1\n\nVellipse turns PDF documents into image files, one image per page."},

    // Conversion run and its result
    {"Conversion Completed", "Conversion Completed"},
    {"SuccessfullConvertMsg", "All PDF files were converted."},
    {"SuccessfullFailureConvertMsgForImage", "Some PDF files could not be converted."},
    {"FailureConvertMsgTitleForImage", "No PDF file could be converted."},
    {"FailureConvertMsgForImage",
     "A file may be damaged or locked with a password that does not open it, or the destination "
     "folder may not be writable."},
    {"OkButtonString", "OK"},
    {"OpenDestinationTitle", "Open Destination"},
    {"QuitDuringConversionTitle", "PDF files are being converted. Do you want to stop and quit Vellipse?"},
    {"QuitDuringConversionMessage",
     "The file being converted is left unfinished, and the files not yet started are not converted."},

    // Progress sheet
    {"Exporting", "Converting file %1 of %2  %3"},
    {"ProcessingPage", "Page %1"},

    // Adding files and passwords
    {"OpenDialogTitle", "Open"},
    {"OpenDialogButton", "Add"},
    {"PasswordAlertMsg", "\u201C%1\u201D is protected by a password. Type the password to add it to the list."},
    {"PasswordDialogTitle", "Password"},
    {"PasswordApplyToAllTitle", "Apply to all protected files"},
    {"PasswordSkipButtonTitle", "Skip"},
    {"AddRecursiveCheckBoxTitle", "Add folders recursively"},
    {"MaintainDirTreeTitle", "Keep the folder structure"},

    // Conversion settings
    {"WrongPageRangeWarningTitle", "The page range is not valid."},
    {"WrongPageRangeWarningMsg",
     "The first and the last page must be 1 or more, and the first page must not come after the "
     "last page."},
    {"InvalidValueTitle", "\u201C%1\u201D is not a valid value."},
    {"InvalidValueMsg", "Type a number greater than 0. A resolution can be at most 4608 dpi."},
    {"HighValueTitle", "A resolution of %1 dpi makes very large images. Do you want to go on?"},
    {"HighValueMsg", "Large images take much memory and time to convert, and their files can be very big."},
    {"YesButtonTitle", "Yes"},
    {"CancelTitle", "Cancel"},
    {"ConvertTitle", "Convert"},
    {"ConvertAllTitle", "Convert All"},
    {"ExtractTitle", "Extract"},
    {"ExtractAllTitle", "Extract All"},

    // Preferences and watch folder
    {"PreferencesWindowTitle", "Preferences"},
    {"GeneralOptionsToolbarLabel", "General"},
    {"WatchFolderOptionsToolbarLabel", "Watch Folder"},
    {"PasswordLabel", "Password:"},
    {"OverwriteCheckbox", "Overwrite existing files"},
    {"ApplyButtonTitle", "Apply"},
    {"ResetButtonTitle", "Reset"},
    {"DoneButtonTitle", "Done"},
    {"WatchSourceFolderLabel", "Watch Folder"},
    {"WatchDestinationFolderLabel", "Destination Folder"},
    {"WatchMoveFolderLabel", "Move Converted Files To"},
    {"SelectFolderButtonTitle", "Choose\u2026"},
    {"OpenFolderButtonTitle", "Open"},
    {"DeleteSourcesOption", "Delete the PDF files after converting them"},
    {"MoveToDestinationOption", "Move the PDF files to the destination folder"},
    {"MoveToFolderOption", "Move the PDF files to another folder"},
    {"ConversionEffectOnWatchMsg", "The new settings are used the next time watching starts."},
    {"DiscardButtonTitle", "Discard"},
    {"OpenDestinationDialogTitle", "Choose the Destination Folder"},
    {"OpenFileDialogButton", "Choose"},
    {"SourceWatchAndDestSameMsg", "The watch folder and the destination folder must not be the same folder."},
    {"SourceWatchAndMoveSameMsg",
     "The watch folder and the folder that converted files are moved to must not be the same folder."},
    {"MoveFoderNotSelectedMsg", "Choose the folder that converted files are moved to."},
    {"StartWatchingButtonTitle", "Start Watching"},
    {"StopWatchingButtonTitle", "Stop Watching"},

    // Names of extracted images
    {"Page", "Page"},

    // Menus
    {"FileMenuTitle", "&File"},
    {"EditMenuTitle", "&Edit"},
    {"WindowMenuTitle", "&Window"},
    {"HelpMenuTitle", "&Help"},
    {"AddFilesMenuTitle", "Add Files\u2026"},
    {"RemoveMenuTitle", "Remove"},
    {"RemoveAllMenuTitle", "Remove All"},
    {"SelectAllMenuTitle", "Select All"},
    {"RevealMenuTitle", "Show in File Manager"},
    {"CloseWindowMenuTitle", "Close Window"},
    {"PreferencesMenuTitle", "Preferences\u2026"},
    {"GeneralSettingsMenuTitle", "General Settings\u2026"},
    {"WatchFolderOptionsMenuTitle", "Watch Folder Options\u2026"},
    {"ContactSupportMenuTitle", "Contact Support\u2026"},
    {"RateMenuTitle", "Rate Vellipse\u2026"},

    // Toolbar labels
    {"AddToolbarLabel", "Add"},
    {"RemoveToolbarLabel", "Remove"},
    {"RemoveAllToolbarLabel", "Remove All"},
    {"RateToolbarLabel", "Rate"},
    {"HelpToolbarLabel", "Help"},

    // File list columns
    {"IndexColumnTitle", "#"},
    {"IconColumnTitle", ""},
    {"FilePathColumnTitle", "File"},
    {"NumOfPagesColumnTitle", "Pages"},
    {"SizeColumnTitle", "Size (points)"},

    // Settings controls of the main window
    {"ConversionSettingsTabTitle", "Conversion Settings"},
    {"ColorModelLabel", "Color Model:"},
    {"RGBColorModel", "RGB"},
    {"CMYKColorModel", "CMYK"},
    {"GrayColorModel", "Grayscale"},
    {"QualityLeastCaption", "Least"},
    {"QualityMediumCaption", "Medium"},
    {"QualityBestCaption", "Best"},
    {"ResolutionLabel", "Resolution:"},
    {"DpiLabel", "dpi"},
    {"WidthLabel", "Width:"},
    {"HeightLabel", "Height:"},
    {"PixelsUnit", "Pixels"},
    {"InchesUnit", "Inches"},
    {"CentimetersUnit", "Centimeters"},
    {"MillimetersUnit", "Millimeters"},
    {"PointsUnit", "Points"},
    {"PagesLabel", "Pages:"},
    {"AllPagesItem", "All"},
    {"SinglePageItem", "One"},
    {"PageRangeItem", "Range"},
    {"ConvertPagesItem", "Convert Pages"},
    {"ExtractImagesItem", "Extract Images"},
    {"SeparateFolderCheckbox", "Create a folder for each PDF"},
};

const QHash<QByteArray, QString>& Table() {
    static const QHash<QByteArray, QString> table = [] {
        QHash<QByteArray, QString> t;
        t.reserve(std::size(kTexts));
        for (const Entry& e : kTexts) t.insert(QByteArray(e.key), QString::fromUtf8(e.text));
        return t;
    }();
    return table;
}

QByteArray KeyBytes(std::string_view key) {
    return QByteArray::fromRawData(key.data(), static_cast<qsizetype>(key.size()));
}

}  // namespace

QString LocalizedString(std::string_view key) {
    const auto& table = Table();
    const auto it = table.constFind(KeyBytes(key));
    if (it != table.constEnd()) return *it;
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

bool HasLocalizedString(std::string_view key) { return Table().contains(KeyBytes(key)); }

}  // namespace platform
