#include "engine/extraction/PDFFunction.h"

#include <qpdf/Buffer.hh>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMaxDepth = 8;

std::vector<double> Numbers(QPDFObjectHandle dict, const char* key) {
    std::vector<double> numbers;
    QPDFObjectHandle array = dict.getKey(key);
    if (!array.isArray()) return numbers;
    for (QPDFObjectHandle item : array.aitems()) {
        if (!item.isNumber()) return {};
        numbers.push_back(item.getNumericValue());
    }
    return numbers;
}

bool AllFinite(const std::vector<double>& v) {
    return std::all_of(v.begin(), v.end(), [](double x) { return std::isfinite(x); });
}

double Clip(double x, double lo, double hi) { return x < lo ? lo : x > hi ? hi : x; }

}  // namespace

PDFFunction::PDFFunction() = default;
PDFFunction::~PDFFunction() = default;

bool PDFFunction::Load(QPDFObjectHandle object, int inputs) {
    std::set<QPDFObjGen> open;
    try {
        return Load(object, inputs, open, 0);
    } catch (const std::exception&) {
        return false;
    }
}

bool PDFFunction::Load(QPDFObjectHandle object, int inputs, std::set<QPDFObjGen>& open, int depth) {
    if (depth > kMaxDepth || inputs < 1 || inputs > 32) return false;
    // A function that holds itself, directly or through others, is refused.
    const bool indirect = object.isIndirect();
    if (indirect && !open.insert(object.getObjGen()).second) return false;
    const bool stream = object.isStream();
    QPDFObjectHandle dict = stream ? object.getDict() : object;
    if (!dict.isDictionary()) return false;
    QPDFObjectHandle typeObject = dict.getKey("/FunctionType");
    if (!typeObject.isInteger()) return false;
    type_ = static_cast<int>(typeObject.getIntValue());
    inputs_ = inputs;
    domain_ = Numbers(dict, "/Domain");
    range_ = Numbers(dict, "/Range");
    // Exponential and stitching functions take one input: given more (a DeviceN space's tint
    // transform), they read the first, as other readers do.
    const int own = type_ == 2 || type_ == 3 ? 1 : inputs;
    if (domain_.size() < 2 * static_cast<std::size_t>(own) || !AllFinite(domain_) || !AllFinite(range_)) return false;
    for (int i = 0; i < own; ++i)
        if (domain_[2 * i] > domain_[2 * i + 1]) return false;
    outputs_ = static_cast<int>(range_.size() / 2);

    bool ok = false;
    switch (type_) {
        case 0: {
            if (!stream || outputs_ < 1) return false;
            size_ = Numbers(dict, "/Size");
            encode_ = Numbers(dict, "/Encode");
            decode_ = Numbers(dict, "/Decode");
            QPDFObjectHandle bps = dict.getKey("/BitsPerSample");
            bitsPerSample_ = bps.isInteger() ? static_cast<int>(bps.getIntValue()) : 0;
            static const int kDepths[] = {1, 2, 4, 8, 12, 16, 24, 32};
            if (std::find(std::begin(kDepths), std::end(kDepths), bitsPerSample_) == std::end(kDepths)) return false;
            if (size_.size() < static_cast<std::size_t>(inputs)) return false;
            if (!encode_.empty() && (encode_.size() < 2 * static_cast<std::size_t>(inputs) || !AllFinite(encode_)))
                return false;
            if (!decode_.empty() && (decode_.size() < 2 * static_cast<std::size_t>(outputs_) || !AllFinite(decode_)))
                return false;
            // Sample count and table size in checked arithmetic.
            std::size_t count = 1;
            strides_.clear();
            for (int i = 0; i < inputs; ++i) {
                const double s = size_[i];
                if (!(s >= 1) || s > 1e9 || s != std::floor(s)) return false;
                strides_.push_back(count);
                if (__builtin_mul_overflow(count, static_cast<std::size_t>(s), &count)) return false;
            }
            std::size_t bits = 0;
            if (__builtin_mul_overflow(count, static_cast<std::size_t>(outputs_) * bitsPerSample_, &bits)) return false;
            std::shared_ptr<Buffer> data = object.getStreamData(qpdf_dl_generalized);
            if (data->getSize() < (bits + 7) / 8) return false;
            samples_.assign(data->getBuffer(), data->getBuffer() + data->getSize());
            ok = true;
            break;
        }
        case 2: {
            c0_ = Numbers(dict, "/C0");
            c1_ = Numbers(dict, "/C1");
            if (outputs_ == 0) outputs_ = static_cast<int>(std::max({c0_.size(), c1_.size(), std::size_t{1}}));
            // A missing end colour is all zeros (C0) or all ones (C1), as long as the other.
            if (c0_.empty()) c0_.assign(static_cast<std::size_t>(outputs_), 0.0);
            if (c1_.empty()) c1_.assign(static_cast<std::size_t>(outputs_), 1.0);
            // Without /N the exponent is 0 and every input gives C1.
            QPDFObjectHandle n = dict.getKey("/N");
            n_ = n.isNumber() ? n.getNumericValue() : 0;
            ok = c0_.size() >= static_cast<std::size_t>(outputs_) && c1_.size() >= static_cast<std::size_t>(outputs_) &&
                 AllFinite(c0_) && AllFinite(c1_) && std::isfinite(n_) && outputs_ >= 1;
            break;
        }
        case 3: {
            bounds_ = Numbers(dict, "/Bounds");
            encode_ = Numbers(dict, "/Encode");
            QPDFObjectHandle list = dict.getKey("/Functions");
            if (!list.isArray() || list.getArrayNItems() < 1) return false;
            const std::size_t k = static_cast<std::size_t>(list.getArrayNItems());
            if (bounds_.size() != k - 1 || encode_.size() < 2 * k || !AllFinite(bounds_) || !AllFinite(encode_))
                return false;
            for (std::size_t i = 0; i < k; ++i) {
                auto sub = std::make_unique<PDFFunction>();
                if (!sub->Load(list.getArrayItem(static_cast<int>(i)), 1, open, depth + 1)) return false;
                if (i > 0 && sub->outputCount() != functions_[0]->outputCount()) return false;
                functions_.push_back(std::move(sub));
            }
            if (outputs_ == 0) outputs_ = functions_[0]->outputCount();
            ok = outputs_ >= 1 && functions_[0]->outputCount() >= outputs_;
            break;
        }
        case 4: {
            if (!stream || outputs_ < 1) return false;
            std::shared_ptr<Buffer> data = object.getStreamData(qpdf_dl_generalized);
            ok = program_.Parse(data->getBuffer(), data->getSize());
            break;
        }
        default: return false;
    }
    if (indirect) open.erase(object.getObjGen());
    return ok;
}

void PDFFunction::EvaluateRaw(const double* in, double* out) const {
    std::fill(out, out + outputs_, 0.0);
    switch (type_) {
        case 0: {
            // The nearest sample along each input.
            std::size_t position = 0;
            for (int i = 0; i < inputs_; ++i) {
                const double d0 = domain_[2 * i], d1 = domain_[2 * i + 1];
                const double s = size_[i];
                const double e0 = encode_.empty() ? 0 : encode_[2 * i];
                const double e1 = encode_.empty() ? s - 1 : encode_[2 * i + 1];
                double e = d1 == d0 ? 0 : e0 + (e1 - e0) * (Clip(in[i], d0, d1) - d0) / (d1 - d0);
                if (std::isnan(e)) e = 0;
                e = Clip(e, 0, s - 1);
                position += static_cast<std::size_t>(e + 0.5) * strides_[i];
            }
            const unsigned b = static_cast<unsigned>(bitsPerSample_);
            const double maxv = std::ldexp(1.0, static_cast<int>(b)) - 1;
            for (int k = 0; k < outputs_; ++k) {
                const std::size_t bit = (position * outputs_ + k) * b;
                std::uint64_t v = 0;
                for (unsigned j = 0; j < b; ++j) {
                    const std::size_t at = bit + j;
                    v = (v << 1) | ((samples_[at >> 3] >> (7 - (at & 7))) & 1u);
                }
                const std::vector<double>& dec = decode_.empty() ? range_ : decode_;
                out[k] = dec[2 * k] + static_cast<double>(v) * (dec[2 * k + 1] - dec[2 * k]) / maxv;
            }
            break;
        }
        case 2: {
            const double x = Clip(in[0], domain_[0], domain_[1]);
            const double t = std::pow(x, n_);
            for (int k = 0; k < outputs_; ++k) out[k] = c0_[k] + t * (c1_[k] - c0_[k]);
            break;
        }
        case 3: {
            const double d0 = domain_[0], d1 = domain_[1];
            double x = Clip(in[0], d0, d1);
            if (std::isnan(x)) x = d0;
            std::size_t k = 0;
            while (k < bounds_.size() && x >= bounds_[k]) ++k;
            const double lo = k == 0 ? d0 : bounds_[k - 1];
            const double hi = k == bounds_.size() ? d1 : bounds_[k];
            const double e0 = encode_[2 * k], e1 = encode_[2 * k + 1];
            const double mapped = hi == lo ? e0 : e0 + (x - lo) * (e1 - e0) / (hi - lo);
            std::vector<double> sub(static_cast<std::size_t>(functions_[k]->outputCount()));
            functions_[k]->Evaluate(&mapped, sub.data());
            std::copy(sub.begin(), sub.begin() + outputs_, out);
            break;
        }
        case 4: {
            OperandStack stack;
            stack.Reset();
            for (int i = 0; i < inputs_; ++i) stack.PushReal(in[i]);
            program_.Execute(stack);
            // The bottom-most values are the first outputs; unfilled outputs stay 0.
            const std::size_t n = std::min<std::size_t>(stack.Count(), static_cast<std::size_t>(outputs_));
            for (std::size_t k = 0; k < n; ++k) {
                const PostScriptOperand& o = stack.At(k);
                out[k] = o.type == PostScriptOperand::kReal      ? o.real
                         : o.type == PostScriptOperand::kInteger ? static_cast<double>(o.integer)
                                                                 : (o.boolean ? 1 : 0);
            }
            break;
        }
        default: break;
    }
}

void PDFFunction::Evaluate(const double* in, double* out) const {
    EvaluateRaw(in, out);
    for (int k = 0; k < outputs_; ++k) {
        const bool ranged = range_.size() >= 2 * static_cast<std::size_t>(k) + 2;
        if (std::isnan(out[k]))
            out[k] = ranged ? range_[2 * k] : 0;
        else if (ranged)
            out[k] = Clip(out[k], range_[2 * k], range_[2 * k + 1]);
    }
}
