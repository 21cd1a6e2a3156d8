#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "platform/PropertyList.h"

using platform::PlistArray;
using platform::PlistData;
using platform::PlistDictionary;
using platform::PlistType;
using platform::PlistValue;

namespace {

std::span<const std::uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

PlistDictionary Sample() {
    PlistDictionary nested{{"Inner", PlistValue(true)}};
    return PlistDictionary{
        {"ImageType", PlistValue(3)},
        {"JPEGQuality", PlistValue(0.8)},
        {"Whole", PlistValue(2.0)},  // a real with no fraction stays a real
        {"Negative", PlistValue(std::int64_t{-42})},
        {"Large", PlistValue(std::int64_t{1} << 53)},
        {"Flag", PlistValue(false)},
        {"Name", PlistValue("a <b> & \"c\" \xC3\xA9")},
        {"Empty", PlistValue("")},
        {"Blob", PlistValue(PlistData{0, 1, 2, 255, 0})},
        {"NoBytes", PlistValue(PlistData{})},
        {"List", PlistValue(PlistArray{PlistValue(1), PlistValue("two"), PlistValue(3.5)})},
        {"Nested", PlistValue(nested)},
    };
}

}  // namespace

TEST(PropertyList, XmlRoundTripKeepsEveryType) {
    const PlistDictionary original = Sample();
    const auto xml = platform::SerializePropertyListXML(original);
    ASSERT_TRUE(xml.has_value());
    const auto parsed = platform::ParsePropertyList(Bytes(*xml));
    ASSERT_TRUE(parsed.has_value());
    const PlistDictionary* dict = parsed->AsDictionary();
    ASSERT_NE(dict, nullptr);
    EXPECT_EQ(*dict, original);
    EXPECT_EQ(dict->Find("Whole")->type(), PlistType::Real);
    EXPECT_EQ(dict->Find("ImageType")->type(), PlistType::Integer);
    EXPECT_EQ(dict->Find("Flag")->type(), PlistType::Boolean);
    EXPECT_EQ(dict->Find("Blob")->type(), PlistType::Data);
    EXPECT_EQ(dict->Find("Name")->type(), PlistType::String);
}

TEST(PropertyList, ValuesOfOtherTypesAreNotEqual) {
    EXPECT_NE(PlistValue(1), PlistValue(1.0));
    EXPECT_NE(PlistValue(1), PlistValue(true));
    EXPECT_NE(PlistValue("1"), PlistValue(1));
    EXPECT_EQ(PlistValue(PlistDictionary{{"a", PlistValue(1)}}), PlistValue(PlistDictionary{{"a", PlistValue(1)}}));
    EXPECT_NE(PlistValue(PlistDictionary{{"a", PlistValue(1)}}), PlistValue(PlistDictionary{{"a", PlistValue(2)}}));
}

TEST(PropertyList, CopiesAreIndependent) {
    PlistValue a(PlistDictionary{{"k", PlistValue(1)}});
    PlistValue b = a;
    b.AsDictionary()->Set("k", PlistValue(2));
    EXPECT_EQ(a.AsDictionary()->GetInteger("k"), 1);
    EXPECT_EQ(b.AsDictionary()->GetInteger("k"), 2);
    PlistValue c = std::move(b);
    EXPECT_EQ(c.AsDictionary()->GetInteger("k"), 2);
}

TEST(PropertyList, TypedGettersFallBackAndConvertNumbers) {
    const PlistDictionary d = Sample();
    EXPECT_EQ(d.GetInteger("ImageType", 9), 3);
    EXPECT_EQ(d.GetInteger("Missing", 9), 9);
    EXPECT_EQ(d.GetInteger("Name", 9), 9);           // not a number
    EXPECT_EQ(d.GetInteger("JPEGQuality", 9), 0);    // truncated
    EXPECT_DOUBLE_EQ(d.GetReal("JPEGQuality", 1), 0.8);
    EXPECT_DOUBLE_EQ(d.GetReal("ImageType", 1), 3);  // an integer reads as a number too
    EXPECT_DOUBLE_EQ(d.GetReal("Blob", 1), 1);
    EXPECT_FALSE(d.GetBool("Flag", true));
    EXPECT_TRUE(d.GetBool("ImageType", false));
    EXPECT_TRUE(d.GetBool("Missing", true));
    EXPECT_EQ(d.GetString("Name"), "a <b> & \"c\" \xC3\xA9");
    EXPECT_EQ(d.GetString("ImageType", "x"), "x");
    EXPECT_EQ(d.GetData("Blob"), (PlistData{0, 1, 2, 255, 0}));
    ASSERT_NE(d.GetArray("List"), nullptr);
    EXPECT_EQ(d.GetArray("List")->size(), 3u);
    EXPECT_EQ(d.GetArray("Name"), nullptr);
    ASSERT_NE(d.GetDictionary("Nested"), nullptr);
    EXPECT_TRUE(d.GetDictionary("Nested")->GetBool("Inner"));
    EXPECT_EQ(PlistValue(1e300).ToInteger(), std::numeric_limits<std::int64_t>::max());
    EXPECT_FALSE(PlistValue(std::nan("")).ToInteger().has_value());
}

TEST(PropertyList, ReadsBinaryAndRefusesWhatIsNoPropertyList) {
    // bplist00 holding the dictionary {"a": 1}.
    const std::string binary("bplist00\xD1\x01\x02\x51\x61\x10\x01\x08\x0B\x0D\x00\x00\x00\x00\x00\x00\x01\x01"
                             "\x00\x00\x00\x00\x00\x00\x00\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
                             "\x00\x00\x00\x0F",
                             50);
    const auto parsed = platform::ParsePropertyList(Bytes(binary));
    ASSERT_TRUE(parsed.has_value());
    ASSERT_NE(parsed->AsDictionary(), nullptr);
    EXPECT_EQ(parsed->AsDictionary()->GetInteger("a"), 1);

    for (const std::string& bad : {std::string(), std::string("hello"), std::string("<plist><dict><key>a</key>"),
                                  std::string("bplist00\x01\x02", 10)})
        EXPECT_FALSE(platform::ParsePropertyList(Bytes(bad)).has_value()) << bad;
}

TEST(PropertyList, StringsWithNulCannotBeWritten) {
    EXPECT_FALSE(platform::SerializePropertyListXML(PlistDictionary{{"k", PlistValue(std::string("a\0b", 3))}}));
    EXPECT_FALSE(platform::SerializePropertyListXML(PlistDictionary{{std::string("k\0", 2), PlistValue(1)}}));
}
