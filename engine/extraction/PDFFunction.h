#pragma once

#include <qpdf/QPDFObjectHandle.hh>

#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "engine/extraction/PostScriptCalculator.h"

// A PDF function (sampled, exponential, stitching or PostScript calculator) loaded from a
// dictionary or a stream, checked at loading and evaluated for one set of inputs at a time.
class PDFFunction {
public:
    PDFFunction();
    ~PDFFunction();
    PDFFunction(const PDFFunction&) = delete;
    PDFFunction& operator=(const PDFFunction&) = delete;

    // Loads a function dictionary or stream taking `inputs` inputs. False when it is refused:
    // an unknown type, arrays too short for its inputs and outputs, a sample table shorter than
    // its Size says, a calculator program that does not compile, sub-functions nested too deep
    // or in a cycle.
    bool Load(QPDFObjectHandle object, int inputs);

    int outputCount() const { return outputs_; }
    int inputCount() const { return inputs_; }
    // Evaluates at `in` (inputCount() values) into `out` (outputCount() values). Every output
    // is defined: clipped to the Range when there is one, NaN giving the Range's minimum (0
    // without a Range).
    void Evaluate(const double* in, double* out) const;

private:
    bool Load(QPDFObjectHandle object, int inputs, std::set<QPDFObjGen>& open, int depth);
    void EvaluateRaw(const double* in, double* out) const;

    int type_ = -1;
    int inputs_ = 0;
    int outputs_ = 0;
    std::vector<double> domain_, range_, encode_, decode_, size_, c0_, c1_, bounds_;
    double n_ = 1;
    int bitsPerSample_ = 0;
    std::vector<std::uint8_t> samples_;
    std::vector<std::size_t> strides_;
    std::vector<std::unique_ptr<PDFFunction>> functions_;
    PostScriptProgram program_;
};
