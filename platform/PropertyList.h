#pragma once

#include <concepts>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// Property lists in memory: the values a preference file holds. Each value keeps its
// property-list type (integer, real, boolean, string, data, array, dictionary), so a file that
// is read and written again says what it said before. Dates and UIDs are not represented: such
// entries are left out when a file is read.
namespace platform {

class PlistValue;
class PlistDictionary;

using PlistArray = std::vector<PlistValue>;
using PlistData = std::vector<std::uint8_t>;

enum class PlistType { Integer, Real, Boolean, String, Data, Array, Dictionary };

class PlistValue {
public:
    PlistValue();  // the integer 0
    PlistValue(bool value);
    template <std::integral T>
        requires(!std::same_as<T, bool>)
    PlistValue(T value) : value_(static_cast<std::int64_t>(value)) {}
    PlistValue(double value);
    PlistValue(float value) : PlistValue(static_cast<double>(value)) {}
    PlistValue(std::string value);
    PlistValue(const char* value);
    PlistValue(std::string_view value);
    PlistValue(PlistData value);
    PlistValue(PlistArray value);
    PlistValue(PlistDictionary value);

    PlistValue(const PlistValue& other);
    PlistValue(PlistValue&& other) noexcept;
    PlistValue& operator=(const PlistValue& other);
    PlistValue& operator=(PlistValue&& other) noexcept;
    ~PlistValue();

    PlistType type() const;

    // The value when it has that type, else nothing (no conversion).
    std::optional<std::int64_t> AsInteger() const;
    std::optional<double> AsReal() const;
    std::optional<bool> AsBoolean() const;
    const std::string* AsString() const;
    const PlistData* AsData() const;
    const PlistArray* AsArray() const;
    PlistArray* AsArray();
    const PlistDictionary* AsDictionary() const;
    PlistDictionary* AsDictionary();

    // Numbers as numbers whatever their stored kind: an integer, a real or a boolean answers
    // (a real is truncated toward zero for ToInteger, clamped to the 64-bit range; not-a-number
    // gives nothing); other types give nothing.
    std::optional<std::int64_t> ToInteger() const;
    std::optional<double> ToReal() const;
    // A boolean, or a number that is not zero.
    std::optional<bool> ToBoolean() const;

    friend bool operator==(const PlistValue& a, const PlistValue& b);

private:
    using Storage = std::variant<std::int64_t, double, bool, std::string, PlistData, PlistArray,
                                 std::unique_ptr<PlistDictionary>>;
    Storage value_;
};

// Keys in sorted order (as property-list files list them).
class PlistDictionary {
public:
    using Map = std::map<std::string, PlistValue, std::less<>>;
    using const_iterator = Map::const_iterator;

    PlistDictionary() = default;
    PlistDictionary(std::initializer_list<Map::value_type> items) : items_(items) {}

    bool Contains(std::string_view key) const { return items_.find(key) != items_.end(); }
    const PlistValue* Find(std::string_view key) const;
    PlistValue* Find(std::string_view key);
    void Set(std::string key, PlistValue value);
    bool Remove(std::string_view key);
    void Clear() { items_.clear(); }
    std::size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    const_iterator begin() const { return items_.begin(); }
    const_iterator end() const { return items_.end(); }

    // Typed look-ups with a default for a missing key or a value of an unsuitable type. Numbers
    // convert among integer, real and boolean as PlistValue::ToInteger/ToReal/ToBoolean do.
    std::int64_t GetInteger(std::string_view key, std::int64_t fallback = 0) const;
    double GetReal(std::string_view key, double fallback = 0) const;
    bool GetBool(std::string_view key, bool fallback = false) const;
    std::string GetString(std::string_view key, std::string fallback = {}) const;
    PlistData GetData(std::string_view key, PlistData fallback = {}) const;
    // Nothing for a missing key or another type.
    const PlistArray* GetArray(std::string_view key) const;
    const PlistDictionary* GetDictionary(std::string_view key) const;

    friend bool operator==(const PlistDictionary& a, const PlistDictionary& b) { return a.items_ == b.items_; }

private:
    Map items_;
};

// Reads a property list in XML or binary form; nothing when the bytes are not one.
std::optional<PlistValue> ParsePropertyList(std::span<const std::uint8_t> bytes);
// Writes an XML property list; nothing when a string or key cannot be stored (it holds a NUL).
std::optional<std::string> SerializePropertyListXML(const PlistValue& value);

}  // namespace platform
