#include "PlistPreferenceStore.h"

#ifdef VELLIPSE_HAS_PLIST_PREFERENCE_STORE

#include "Common UI Code/OVXUtil.h"
#include "platform/PropertyList.h"

namespace settings {

PreferenceDictionary FromPlistDictionary(const platform::PlistDictionary& dictionary) {
    PreferenceDictionary result;
    for (const auto& [name, value] : dictionary) {
        switch (value.type()) {
        case platform::PlistType::Integer: result.emplace(name, *value.AsInteger()); break;
        case platform::PlistType::Real: result.emplace(name, *value.AsReal()); break;
        case platform::PlistType::Boolean: result.emplace(name, *value.AsBoolean()); break;
        case platform::PlistType::String: result.emplace(name, *value.AsString()); break;
        case platform::PlistType::Data: result.emplace(name, *value.AsData()); break;
        case platform::PlistType::Array:
        case platform::PlistType::Dictionary: break;
        }
    }
    return result;
}

platform::PlistDictionary ToPlistDictionary(const PreferenceDictionary& dictionary) {
    platform::PlistDictionary result;
    for (const auto& [name, value] : dictionary)
        std::visit([&result, &name](const auto& item) { result.Set(name, platform::PlistValue(item)); }, value);
    return result;
}

std::optional<PreferenceDictionary> PlistPreferenceStore::Read(const std::string& fileNameFormat) {
    platform::PlistDictionary dictionary;
    if (!ReadPreferencePlist(dictionary, fileNameFormat)) return std::nullopt;
    return FromPlistDictionary(dictionary);
}

bool PlistPreferenceStore::Write(const PreferenceDictionary& dictionary, const std::string& fileNameFormat) {
    return WritePreferencePlist(ToPlistDictionary(dictionary), fileNameFormat);
}

}  // namespace settings

#endif
