#pragma once

#include "PreferenceStore.h"

// The application's own store: the preference files as property-list files in the user's
// configuration folder (ReadPreferencePlist / WritePreferencePlist of the shared helpers). It is
// built where the shared helpers provide property lists.
#if __has_include("platform/PropertyList.h")
#define VELLIPSE_HAS_PLIST_PREFERENCE_STORE 1

namespace platform {
class PlistDictionary;
}

namespace settings {

class PlistPreferenceStore final : public PreferenceStore {
public:
    std::optional<PreferenceDictionary> Read(const std::string& fileNameFormat) override;
    bool Write(const PreferenceDictionary& dictionary, const std::string& fileNameFormat) override;
};

// Between the property-list dictionary of a file and the settings' flat dictionary. Arrays and
// nested dictionaries have no place in the flat one and are left out.
PreferenceDictionary FromPlistDictionary(const platform::PlistDictionary& dictionary);
platform::PlistDictionary ToPlistDictionary(const PreferenceDictionary& dictionary);

}  // namespace settings

#endif
