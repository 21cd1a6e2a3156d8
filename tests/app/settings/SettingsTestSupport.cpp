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

std::unique_ptr<QMainWindow> MakeMainWindow(const settings::Services& services, settings::MainSettingsWidgets* widgets) {
    auto window = std::make_unique<QMainWindow>();
    auto* view = new QWidget(window.get());
    view->setObjectName(QStringLiteral("windowView"));
    auto* layout = new QVBoxLayout(view);
    auto* settingsView = new QWidget(view);
    settingsView->setObjectName(QStringLiteral("conversionSettingsViewOutlet"));
    settingsView->setFixedSize(870, 112);
    layout->addWidget(settingsView);
    auto* lowerRow = new QWidget(view);
    layout->addWidget(lowerRow);
    *widgets = settings::BuildMainSettingsControls(settingsView, lowerRow, services);
    // The two views stand in the settings view, as start-up places them.
    widgets->imageDimentionsViewOutlet->move(460, 3);
    widgets->imageDimentionsViewOutlet->show();
    widgets->pageRangeViewOutlet->move(708, 18);
    widgets->pageRangeViewOutlet->show();
    auto* row = new QHBoxLayout(lowerRow);
    row->addWidget(widgets->convertOrExtractOptionPopupOutlet);
    row->addWidget(widgets->createSeparateFolderForEachFileButtonOutlet);
    for (const char* name : {"exportButton", "exportAllButton"}) {
        auto* button = new QPushButton(QStringLiteral("Convert"), lowerRow);
        button->setObjectName(QLatin1String(name));
        row->addWidget(button);
        (QLatin1String(name) == QLatin1String("exportButton") ? widgets->convertTitleTargets
                                                              : widgets->convertAllTitleTargets)
            << button;
    }
    for (const char* name : {"exportMenuItem", "exportContextMenuItem", "exportToolbarButtonItem"}) {
        auto* action = new QAction(QStringLiteral("Convert"), window.get());
        action->setObjectName(QLatin1String(name));
        widgets->convertTitleTargets << action;
    }
    for (const char* name : {"exportAllMenuItem", "exportAllContextMenuItem", "exportAllToolbarButtonItem"}) {
        auto* action = new QAction(QStringLiteral("Convert All"), window.get());
        action->setObjectName(QLatin1String(name));
        widgets->convertAllTitleTargets << action;
    }
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
