#include "SettingsTestSupport.h"

#include <QTest>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include "settings/SettingsControls.h"
#include "settings/SettingsMenus.h"

namespace settingstest {

settings::Services FakeServices::services() {
    settings::Services services;
    services.alert = [this](QWidget* window, const QString& title, const QString& message, const QString& defaultButton,
                            const QString& alternateButton, const QString& otherButton) {
        alerts.append({window, title, message, defaultButton, alternateButton, otherButton});
        if (answers.empty()) return 1;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    };
    services.text = [](std::string_view key) { return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size())); };
    services.format = [](std::string_view key, const QString& argument) {
        return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size())) + QLatin1Char(':') + argument;
    };
    return services;
}

std::optional<settings::PreferenceDictionary> MemoryPreferenceStore::Read(const std::string& fileNameFormat) {
    const auto found = files.find(fileNameFormat);
    if (found == files.end()) return std::nullopt;
    return found->second;
}

bool MemoryPreferenceStore::Write(const settings::PreferenceDictionary& dictionary, const std::string& fileNameFormat) {
    ++writes;
    if (failWrites) return false;
    files[fileNameFormat] = dictionary;
    return true;
}

namespace {

template <typename T>
T* Named(T* object, const char* name) {
    object->setObjectName(QLatin1String(name));
    return object;
}

QSpinBox* MakeStepper(QWidget* parent, const char* name) {
    auto* stepper = Named(new QSpinBox(parent), name);
    stepper->setRange(1, 99999);
    stepper->setValue(1);
    return stepper;
}

}  // namespace

std::unique_ptr<QMainWindow> MakeMainWindow(const settings::Services& services) {
    auto window = std::make_unique<QMainWindow>();
    auto* view = Named(new QWidget(window.get()), "windowView");
    auto* layout = new QVBoxLayout(view);
    const auto add = [layout](QWidget* widget) {
        layout->addWidget(widget);
        return widget;
    };

    auto* type = Named(new QComboBox(view), "destinationImageTypePopUpOutlet");
    settings::AddOutputTypeItems(type);
    settings::SelectTag(type, 4);
    add(type);
    add(Named(new QLabel(QStringLiteral("Colour:"), view), "colorModelEditFieldOutlet"));
    auto* colour = Named(new QComboBox(view), "colorModelPopUpOutlet");
    settings::AddColorModelItems(colour, services);
    add(colour);
    auto* slider = Named(new QSlider(Qt::Horizontal, view), "imageCompressionQuaitySliderOutlet");
    slider->setRange(0, 100);  // a range of its own, as the window may give it
    slider->setValue(80);
    add(slider);
    add(Named(new QLabel(view), "imageCompressionQuaityLabelOutlet"));
    for (const char* name : {"imageCompressionLeastQuaityEditFieldOutlet", "imageCompressionMediumQuaityEditFieldOutlet",
                             "imageCompressionLosseessQuaityEditFieldOutlet", "resolutionStaticText",
                             "resolutionDpiStaticText", "widthLabel", "heightLabel", "pageFromStaticTextOutlet",
                             "pageToStaticTextOutlet", "lockUnlockImageView"})
        add(Named(new QLabel(QLatin1String(name), view), name));
    auto* resolution = Named(new QComboBox(view), "imageResolutionPopUpOutlet");
    resolution->setEditable(true);
    resolution->setInsertPolicy(QComboBox::NoInsert);
    settings::AddResolutionItems(resolution);
    resolution->setCurrentIndex(3);
    add(resolution);
    for (const char* name : {"widthTextField", "heightTextField", "pageRangeStartTextFieldOutlet",
                             "pageRangeEndTextFieldOutlet"})
        add(Named(new QLineEdit(view), name));
    auto* unit = Named(new QComboBox(view), "sizeFormatTypePopupButton");
    settings::AddSizeUnitItems(unit, services);
    add(unit);
    for (const char* name : {"lockLinesBox1", "lockLinesBox2", "lockLinesBox3"}) add(Named(new QFrame(view), name));
    auto* range = Named(new QComboBox(view), "pageRangeTypePopUpButtonOutlet");
    settings::AddPageRangeItems(range, services);
    add(range);
    add(MakeStepper(view, "pageRangeStartStepperOutlet"));
    add(MakeStepper(view, "pageRangeEndStepperOutlet"));
    auto* mode = Named(new QComboBox(view), "convertOrExtractOptionPopupOutlet");
    settings::AddModeItems(mode, services);
    add(mode);
    auto* separate = Named(new QCheckBox(QStringLiteral("Separate folders"), view), "createSeparateFolderForEachFileButtonOutlet");
    separate->setChecked(true);
    add(separate);
    add(Named(new QPushButton(QStringLiteral("Convert"), view), "exportButton"));
    add(Named(new QPushButton(QStringLiteral("Convert All"), view), "exportAllButton"));
    for (const char* name : {"exportMenuItem", "exportContextMenuItem", "exportToolbarButtonItem", "exportAllMenuItem",
                             "exportAllContextMenuItem", "exportAllToolbarButtonItem"})
        Named(new QAction(QStringLiteral("Convert"), window.get()), name);
    window->setCentralWidget(view);
    return window;
}

TemporaryConfigHome::TemporaryConfigHome() {
    hadPrevious_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    previous_ = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit());
}

TemporaryConfigHome::~TemporaryConfigHome() {
    if (hadPrevious_)
        qputenv("XDG_CONFIG_HOME", previous_);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

void Choose(QComboBox* box, int tag) {
    const int index = box->findData(tag);
    QVERIFY2(index >= 0, qPrintable(QStringLiteral("no item tagged %1").arg(tag)));
    box->setCurrentIndex(index);
    emit box->activated(index);
}

}  // namespace settingstest
