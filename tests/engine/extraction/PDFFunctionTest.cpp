// PDF functions loaded from QPDF objects and evaluated at given inputs.
#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>

#include <cmath>

#include "engine/extraction/PDFFunction.h"

namespace {

// A function object: a dictionary, or a stream when `data` is given.
QPDFObjectHandle Function(QPDF& pdf, const std::string& dict, const std::string* data = nullptr) {
    QPDFObjectHandle d = QPDFObjectHandle::parse(&pdf, dict);
    if (!data) return d;
    QPDFObjectHandle s = QPDFObjectHandle::newStream(&pdf, *data);
    for (const std::string& key : d.getKeys()) s.getDict().replaceKey(key, d.getKey(key));
    return pdf.makeIndirectObject(s);
}

TEST(PDFFunction, ValuesAtInputs) {
    QPDF pdf;
    pdf.emptyPDF();
    const std::string sampled8("\x00\xFF", 2), sampled4("\x0F\x5A", 2), grid("\x00\x40\x80\xFF", 4);
    const std::string invert = "{ 1 exch sub }", nan = "{ pop -1 sqrt }", nothing = "{ pop }";
    QPDFObjectHandle up = Function(pdf, "<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] /N 1 >>");
    QPDFObjectHandle down = Function(pdf, "<< /FunctionType 2 /Domain [0 1] /C0 [1] /C1 [0] /N 1 >>");
    QPDFObjectHandle stitch = QPDFObjectHandle::parse("<< /FunctionType 3 /Domain [0 1] /Bounds [0.5] /Encode [0 1 0 1] >>");
    QPDFObjectHandle parts = QPDFObjectHandle::newArray();
    parts.appendItem(up);
    parts.appendItem(down);
    stitch.replaceKey("/Functions", parts);
    const struct {
        const char* name;
        QPDFObjectHandle function;
        int inputs;
        std::vector<std::vector<double>> at;      // inputs
        std::vector<std::vector<double>> values;  // outputs at each
    } cases[] = {
        {"exponential, count from C1",
         Function(pdf, "<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0 0.5 1 0] /N 1 >>"), 1, {{0.2}},
         {{0, 0.1, 0.2, 0}}},
        {"exponential power", Function(pdf, "<< /FunctionType 2 /Domain [0 1] /N 2.2 >>"), 1, {{0.5}},
         {{std::pow(0.5, 2.2)}}},
        {"exponential clipped to Range", Function(pdf, "<< /FunctionType 2 /Domain [0 1] /Range [0 1] /C1 [2] /N 1 >>"), 1,
         {{1}}, {{1}}},
        {"exponential without N", Function(pdf, "<< /FunctionType 2 /Domain [0 1] /Range [0 1] /C1 [0.7] >>"), 1, {{0.2}},
         {{0.7}}},
        {"exponential without C0: zeros for each output",
         Function(pdf, "<< /FunctionType 2 /Domain [0 1] /C1 [0 0.5 0 1] /N 1 >>"), 1, {{0.5}}, {{0, 0.25, 0, 0.5}}},
        {"exponential given two inputs reads the first", up, 2, {{0.25, 0.9}}, {{0.25}}},
        {"stitching given three inputs reads the first", stitch, 3, {{0.75, 0, 1}}, {{0.5}}},
        {"exponential clips x to the Domain", Function(pdf, "<< /FunctionType 2 /Domain [0 0.5] /N 1 >>"), 1, {{1}}, {{0.5}}},
        {"sampled, nearest sample", Function(pdf, "<< /FunctionType 0 /Domain [0 1] /Range [0 1] /Size [2] /BitsPerSample 8 >>", &sampled8),
         1, {{0.49}, {0.5}}, {{0}, {1}}},
        {"sampled, 4 bits", Function(pdf, "<< /FunctionType 0 /Domain [0 1] /Range [0 1] /Size [4] /BitsPerSample 4 >>", &sampled4),
         1, {{1}, {0.34}}, {{10.0 / 15}, {15.0 / 15}}},
        {"sampled, two inputs", Function(pdf, "<< /FunctionType 0 /Domain [0 1 0 1] /Range [0 1] /Size [2 2] /BitsPerSample 8 >>", &grid),
         2, {{0, 0}, {1, 0}, {0, 1}, {1, 1}}, {{0}, {64 / 255.0}, {128 / 255.0}, {1}}},
        {"sampled, Decode", Function(pdf, "<< /FunctionType 0 /Domain [0 1] /Range [0 10] /Decode [0 2] /Size [2] /BitsPerSample 8 >>", &sampled8),
         1, {{1}}, {{2}}},
        {"stitching, each part through its Encode", stitch, 1, {{0.25}, {0.75}, {0}, {1}, {2}, {0.25}},
         {{0.5}, {0.5}, {0}, {0}, {0}, {0.5}}},
        {"calculator", Function(pdf, "<< /FunctionType 4 /Domain [0 1] /Range [0 1] >>", &invert), 1, {{0.25}}, {{0.75}}},
        {"calculator NaN gives the Range minimum", Function(pdf, "<< /FunctionType 4 /Domain [0 1] /Range [0.2 1] >>", &nan), 1,
         {{0.5}}, {{0.2}}},
        {"calculator outputs left unfilled are 0", Function(pdf, "<< /FunctionType 4 /Domain [0 1] /Range [0 1 0 1] >>", &nothing),
         1, {{0.5}}, {{0, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PDFFunction f;
        ASSERT_TRUE(f.Load(c.function, c.inputs));
        for (std::size_t k = 0; k < c.at.size(); ++k) {
            ASSERT_EQ(f.outputCount(), static_cast<int>(c.values[k].size()));
            std::vector<double> out(static_cast<std::size_t>(f.outputCount()), -99);
            f.Evaluate(c.at[k].data(), out.data());
            for (std::size_t i = 0; i < out.size(); ++i) EXPECT_NEAR(out[i], c.values[k][i], 1e-9) << "input " << k;
        }
    }
}

TEST(PDFFunction, RefusedAtLoading) {
    QPDF pdf;
    pdf.emptyPDF();
    const std::string one("\x00", 1), unclosed = "{ 1 2 add";
    QPDFObjectHandle cyclic = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /FunctionType 3 /Domain [0 1] /Bounds [] /Encode [0 1] >>"));
    QPDFObjectHandle self = QPDFObjectHandle::newArray();
    self.appendItem(cyclic);
    cyclic.replaceKey("/Functions", self);
    const struct {
        const char* name;
        QPDFObjectHandle function;
    } cases[] = {
        {"unknown type", Function(pdf, "<< /FunctionType 5 /Domain [0 1] /Range [0 1] >>")},
        {"no Domain", Function(pdf, "<< /FunctionType 2 /C1 [1] /N 1 >>")},
        {"short sample table", Function(pdf, "<< /FunctionType 0 /Domain [0 1] /Range [0 1] /Size [4] /BitsPerSample 8 >>", &one)},
        {"3 bits per sample", Function(pdf, "<< /FunctionType 0 /Domain [0 1] /Range [0 1] /Size [2] /BitsPerSample 3 >>", &one)},
        {"Size 0", Function(pdf, "<< /FunctionType 0 /Domain [0 1] /Range [0 1] /Size [0] /BitsPerSample 8 >>", &one)},
        {"a huge Size", Function(pdf, "<< /FunctionType 0 /Domain [0 1 0 1] /Range [0 1] /Size [1000000000 1000000000] /BitsPerSample 8 >>", &one)},
        {"sampled without Range", Function(pdf, "<< /FunctionType 0 /Domain [0 1] /Size [1] /BitsPerSample 8 >>", &one)},
        {"C0 shorter than C1", Function(pdf, "<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1 1] /N 1 >>")},
        {"a stitching function holding itself", cyclic},
        {"an unclosed calculator program", Function(pdf, "<< /FunctionType 4 /Domain [0 1] /Range [0 1] >>", &unclosed)},
        {"not a function", QPDFObjectHandle::newInteger(3)},
    };
    for (const auto& c : cases) {
        PDFFunction f;
        EXPECT_FALSE(f.Load(c.function, 1)) << c.name;
    }
}

}  // namespace
