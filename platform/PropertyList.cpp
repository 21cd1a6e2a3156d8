#include "platform/PropertyList.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <plist/plist.h>

namespace platform {

// ---------------------------------------------------------------------------------------------
// PlistValue

PlistValue::PlistValue() : value_(std::int64_t{0}) {}
PlistValue::PlistValue(bool value) : value_(value) {}
PlistValue::PlistValue(double value) : value_(value) {}
PlistValue::PlistValue(std::string value) : value_(std::move(value)) {}
PlistValue::PlistValue(const char* value) : value_(std::string(value ? value : "")) {}
PlistValue::PlistValue(std::string_view value) : value_(std::string(value)) {}
PlistValue::PlistValue(PlistData value) : value_(std::move(value)) {}
PlistValue::PlistValue(PlistArray value) : value_(std::move(value)) {}
PlistValue::PlistValue(PlistDictionary value)
    : value_(std::make_unique<PlistDictionary>(std::move(value))) {}

namespace {
// The dictionary sits behind a pointer only because its type is incomplete inside PlistValue;
// copies are deep, so a PlistValue behaves as a plain value.
template <typename Storage>
Storage CopyStorage(const Storage& source) {
    if (const auto* dict = std::get_if<std::unique_ptr<PlistDictionary>>(&source))
        return Storage(std::make_unique<PlistDictionary>(*dict ? **dict : PlistDictionary{}));
    return std::visit(
        [](const auto& v) -> Storage {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::unique_ptr<PlistDictionary>>) return Storage(std::int64_t{0});
            else return Storage(v);
        },
        source);
}
}  // namespace

PlistValue::PlistValue(const PlistValue& other) : value_(CopyStorage(other.value_)) {}
PlistValue::PlistValue(PlistValue&& other) noexcept : value_(std::move(other.value_)) {
    other.value_ = std::int64_t{0};
}
PlistValue& PlistValue::operator=(const PlistValue& other) {
    if (this != &other) value_ = CopyStorage(other.value_);
    return *this;
}
PlistValue& PlistValue::operator=(PlistValue&& other) noexcept {
    if (this != &other) {
        value_ = std::move(other.value_);
        other.value_ = std::int64_t{0};
    }
    return *this;
}
PlistValue::~PlistValue() = default;

PlistType PlistValue::type() const {
    switch (value_.index()) {
        case 0: return PlistType::Integer;
        case 1: return PlistType::Real;
        case 2: return PlistType::Boolean;
        case 3: return PlistType::String;
        case 4: return PlistType::Data;
        case 5: return PlistType::Array;
        default: return PlistType::Dictionary;
    }
}

std::optional<std::int64_t> PlistValue::AsInteger() const {
    if (const auto* v = std::get_if<std::int64_t>(&value_)) return *v;
    return std::nullopt;
}
std::optional<double> PlistValue::AsReal() const {
    if (const auto* v = std::get_if<double>(&value_)) return *v;
    return std::nullopt;
}
std::optional<bool> PlistValue::AsBoolean() const {
    if (const auto* v = std::get_if<bool>(&value_)) return *v;
    return std::nullopt;
}
const std::string* PlistValue::AsString() const { return std::get_if<std::string>(&value_); }
const PlistData* PlistValue::AsData() const { return std::get_if<PlistData>(&value_); }
const PlistArray* PlistValue::AsArray() const { return std::get_if<PlistArray>(&value_); }
PlistArray* PlistValue::AsArray() { return std::get_if<PlistArray>(&value_); }
const PlistDictionary* PlistValue::AsDictionary() const {
    const auto* p = std::get_if<std::unique_ptr<PlistDictionary>>(&value_);
    return p ? p->get() : nullptr;
}
PlistDictionary* PlistValue::AsDictionary() {
    auto* p = std::get_if<std::unique_ptr<PlistDictionary>>(&value_);
    return p ? p->get() : nullptr;
}

std::optional<std::int64_t> PlistValue::ToInteger() const {
    if (auto v = AsInteger()) return v;
    if (auto v = AsBoolean()) return *v ? 1 : 0;
    if (auto v = AsReal()) {
        if (std::isnan(*v)) return std::nullopt;
        // 2^63 is exact as a double; anything at or above it does not fit.
        if (*v >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
        if (*v <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
        return static_cast<std::int64_t>(*v);
    }
    return std::nullopt;
}

std::optional<double> PlistValue::ToReal() const {
    if (auto v = AsReal()) return v;
    if (auto v = AsInteger()) return static_cast<double>(*v);
    if (auto v = AsBoolean()) return *v ? 1.0 : 0.0;
    return std::nullopt;
}

std::optional<bool> PlistValue::ToBoolean() const {
    if (auto v = AsBoolean()) return v;
    if (auto v = AsInteger()) return *v != 0;
    if (auto v = AsReal()) return *v != 0;
    return std::nullopt;
}

bool operator==(const PlistValue& a, const PlistValue& b) {
    if (a.value_.index() != b.value_.index()) return false;
    if (const PlistDictionary* da = a.AsDictionary()) return *da == *b.AsDictionary();
    return a.value_ == b.value_;
}

// ---------------------------------------------------------------------------------------------
// PlistDictionary

const PlistValue* PlistDictionary::Find(std::string_view key) const {
    auto it = items_.find(key);
    return it == items_.end() ? nullptr : &it->second;
}

PlistValue* PlistDictionary::Find(std::string_view key) {
    auto it = items_.find(key);
    return it == items_.end() ? nullptr : &it->second;
}

void PlistDictionary::Set(std::string key, PlistValue value) { items_.insert_or_assign(std::move(key), std::move(value)); }

bool PlistDictionary::Remove(std::string_view key) {
    auto it = items_.find(key);
    if (it == items_.end()) return false;
    items_.erase(it);
    return true;
}

std::int64_t PlistDictionary::GetInteger(std::string_view key, std::int64_t fallback) const {
    const PlistValue* v = Find(key);
    return v ? v->ToInteger().value_or(fallback) : fallback;
}

double PlistDictionary::GetReal(std::string_view key, double fallback) const {
    const PlistValue* v = Find(key);
    return v ? v->ToReal().value_or(fallback) : fallback;
}

bool PlistDictionary::GetBool(std::string_view key, bool fallback) const {
    const PlistValue* v = Find(key);
    return v ? v->ToBoolean().value_or(fallback) : fallback;
}

std::string PlistDictionary::GetString(std::string_view key, std::string fallback) const {
    const PlistValue* v = Find(key);
    const std::string* s = v ? v->AsString() : nullptr;
    return s ? *s : fallback;
}

PlistData PlistDictionary::GetData(std::string_view key, PlistData fallback) const {
    const PlistValue* v = Find(key);
    const PlistData* d = v ? v->AsData() : nullptr;
    return d ? *d : fallback;
}

const PlistArray* PlistDictionary::GetArray(std::string_view key) const {
    const PlistValue* v = Find(key);
    return v ? v->AsArray() : nullptr;
}

const PlistDictionary* PlistDictionary::GetDictionary(std::string_view key) const {
    const PlistValue* v = Find(key);
    return v ? v->AsDictionary() : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Reading and writing through libplist

namespace {

// Deeper nesting than this is no preference file: refuse it rather than recurse without end.
constexpr int kMaxDepth = 256;

struct PlistNode {
    plist_t node = nullptr;
    ~PlistNode() {
        if (node) plist_free(node);
    }
};

std::optional<PlistValue> FromNode(plist_t node, int depth);

std::optional<PlistValue> FromDictNode(plist_t node, int depth) {
    PlistDictionary dict;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(node, &it);
    if (!it) return std::nullopt;
    bool ok = true;
    for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, it, &key, &item);
        if (!item) {
            std::free(key);
            break;
        }
        const plist_type t = plist_get_node_type(item);
        if (t == PLIST_DATE || t == PLIST_UID) {  // not represented: left out
            std::free(key);
            continue;
        }
        std::optional<PlistValue> value = FromNode(item, depth + 1);
        if (!value || !key) {
            std::free(key);
            ok = false;
            break;
        }
        dict.Set(key, std::move(*value));
        std::free(key);
    }
    std::free(it);
    if (!ok) return std::nullopt;
    return PlistValue(std::move(dict));
}

std::optional<PlistValue> FromNode(plist_t node, int depth) {
    if (!node || depth > kMaxDepth) return std::nullopt;
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            std::uint8_t v = 0;
            plist_get_bool_val(node, &v);
            return PlistValue(v != 0);
        }
        case PLIST_UINT: {
            // The library keeps integers as 64-bit patterns; signed is what the files mean.
            std::uint64_t v = 0;
            plist_get_uint_val(node, &v);
            return PlistValue(static_cast<std::int64_t>(v));
        }
        case PLIST_REAL: {
            double v = 0;
            plist_get_real_val(node, &v);
            return PlistValue(v);
        }
        case PLIST_STRING: {
            char* v = nullptr;
            plist_get_string_val(node, &v);
            PlistValue value(std::string(v ? v : ""));
            std::free(v);
            return value;
        }
        case PLIST_DATA: {
            char* v = nullptr;
            std::uint64_t length = 0;
            plist_get_data_val(node, &v, &length);
            PlistData bytes;
            if (v && length) bytes.assign(reinterpret_cast<std::uint8_t*>(v), reinterpret_cast<std::uint8_t*>(v) + length);
            std::free(v);
            return PlistValue(std::move(bytes));
        }
        case PLIST_ARRAY: {
            PlistArray array;
            const std::uint32_t n = plist_array_get_size(node);
            array.reserve(n);
            for (std::uint32_t i = 0; i < n; ++i) {
                plist_t item = plist_array_get_item(node, i);
                const plist_type t = plist_get_node_type(item);
                if (t == PLIST_DATE || t == PLIST_UID) continue;
                std::optional<PlistValue> value = FromNode(item, depth + 1);
                if (!value) return std::nullopt;
                array.push_back(std::move(*value));
            }
            return PlistValue(std::move(array));
        }
        case PLIST_DICT: return FromDictNode(node, depth);
        default: return std::nullopt;
    }
}

bool HasNul(const std::string& s) { return s.find('\0') != std::string::npos; }

// Builds a libplist node; null when the value cannot be stored.
plist_t ToNode(const PlistValue& value, int depth) {
    if (depth > kMaxDepth) return nullptr;
    switch (value.type()) {
        case PlistType::Integer: return plist_new_uint(static_cast<std::uint64_t>(*value.AsInteger()));
        case PlistType::Real: return plist_new_real(*value.AsReal());
        case PlistType::Boolean: return plist_new_bool(*value.AsBoolean() ? 1 : 0);
        case PlistType::String: {
            const std::string& s = *value.AsString();
            return HasNul(s) ? nullptr : plist_new_string(s.c_str());
        }
        case PlistType::Data: {
            const PlistData& d = *value.AsData();
            return plist_new_data(reinterpret_cast<const char*>(d.data()), d.size());
        }
        case PlistType::Array: {
            plist_t array = plist_new_array();
            for (const PlistValue& item : *value.AsArray()) {
                plist_t child = ToNode(item, depth + 1);
                if (!child) {
                    plist_free(array);
                    return nullptr;
                }
                plist_array_append_item(array, child);
            }
            return array;
        }
        case PlistType::Dictionary: {
            plist_t dict = plist_new_dict();
            for (const auto& [key, item] : *value.AsDictionary()) {
                plist_t child = HasNul(key) ? nullptr : ToNode(item, depth + 1);
                if (!child) {
                    plist_free(dict);
                    return nullptr;
                }
                plist_dict_set_item(dict, key.c_str(), child);
            }
            return dict;
        }
    }
    return nullptr;
}

}  // namespace

std::optional<PlistValue> ParsePropertyList(std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    PlistNode root;
    plist_from_memory(reinterpret_cast<const char*>(bytes.data()), static_cast<std::uint32_t>(bytes.size()),
                      &root.node);
    if (!root.node) return std::nullopt;
    return FromNode(root.node, 0);
}

std::optional<std::string> SerializePropertyListXML(const PlistValue& value) {
    PlistNode root;
    root.node = ToNode(value, 0);
    if (!root.node) return std::nullopt;
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root.node, &xml, &length);
    if (!xml) return std::nullopt;
    std::string text(xml, length);
    plist_to_xml_free(xml);
    return text;
}

}  // namespace platform
