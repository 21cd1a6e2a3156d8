#pragma once

#include <QComboBox>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "settings/MainSettingsControls.h"
#include "settings/PreferenceStore.h"
#include "settings/SettingsServices.h"

class QMainWindow;

namespace settingstest {

// One alert as it was asked for.
struct AlertCall {
    QWidget* window = nullptr;
    QString title;
    QString message;
    QString defaultButton;
    QString alternateButton;
    QString otherButton;
};

// Alerts recorded and answered from a queue (1, the default button, when it is empty). Texts are
// their keys; a format text is its key, ":" and the argument, so the argument can be checked.
class FakeServices {
public:
    settings::Services services();
    std::deque<int> answers;
    QList<AlertCall> alerts;
};

// The preference files in memory, by file-name format; a store whose writes fail on request.
class MemoryPreferenceStore : public settings::PreferenceStore {
public:
    std::optional<settings::PreferenceDictionary> Read(const std::string& fileNameFormat) override;
    bool Write(const settings::PreferenceDictionary& dictionary, const std::string& fileNameFormat) override;

    std::map<std::string, settings::PreferenceDictionary> files;
    bool failWrites = false;
    int writes = 0;
};

// A main window holding the settings controls as the application builds them, plus the buttons
// and actions that the convert/extract choice retitles; `widgets` gets them all.
std::unique_ptr<QMainWindow> MakeMainWindow(const settings::Services& services, settings::MainSettingsWidgets* widgets);

// Points XDG_CONFIG_HOME at a fresh temporary folder for the life of the object.
class TemporaryConfigHome {
public:
    TemporaryConfigHome();
    ~TemporaryConfigHome();
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    QByteArray previous_;
    bool hadPrevious_ = false;
};

// Chooses a menu item by its tag as the user does: the selection changes and the menu reports it.
void Choose(QComboBox* box, int tag);

}  // namespace settingstest
