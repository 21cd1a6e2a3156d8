#include "engine/extraction/PostScriptCalculator.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace {

constexpr const char* kOperatorNames[] = {
    "abs", "add",  "and",     "atan",  "bitshift", "ceiling", "copy", "cos",   "cvi",   "cvr",      "div",
    "dup", "eq",   "exch",    "exp",   "false",    "floor",   "ge",   "gt",    "idiv",  "if",       "ifelse",
    "index", "le", "ln",      "log",   "lt",       "mod",     "mul",  "ne",    "neg",   "not",      "or",
    "pop", "roll", "round",   "sin",   "sqrt",     "sub",     "true", "truncate", "xor",
};
enum Op {
    kAbs, kAdd, kAnd, kAtan, kBitshift, kCeiling, kCopy, kCos, kCvi, kCvr, kDiv, kDup, kEq, kExch, kExp, kFalse,
    kFloor, kGe, kGt, kIdiv, kIf, kIfelse, kIndex, kLe, kLn, kLog, kLt, kMod, kMul, kNe, kNeg, kNot, kOr, kPop,
    kRoll, kRound, kSin, kSqrt, kSub, kTrue, kTruncate, kXor,
};
static_assert(sizeof kOperatorNames / sizeof kOperatorNames[0] == 42);

constexpr double kDegrees = 57.2957795;

bool IsSpace(std::uint8_t c) { return c == 0 || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' '; }

// A real as an integer, defined for every value: NaN gives 0, values beyond the range its end.
std::int64_t TruncatedInteger(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 9.2233720368547758e18) return std::numeric_limits<std::int64_t>::max();
    if (v <= -9.2233720368547758e18) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(v);
}

}  // namespace

int LookupPostScriptOperator(std::string_view name) {
    int low = 0, high = 41;
    while (low <= high) {
        const int mid = (low + high) / 2;
        const int c = name.compare(kOperatorNames[mid]);
        if (c == 0) return mid;
        if (c < 0)
            high = mid - 1;
        else
            low = mid + 1;
    }
    return -1;
}

// ---- Operand stack --------------------------------------------------------------------------

bool OperandStack::Push(const PostScriptOperand& operand) {
    if (operands_.size() >= kMaxOperands) return false;
    operands_.push_back(operand);
    return true;
}

bool OperandStack::PushReal(double v) {
    PostScriptOperand o;
    o.type = PostScriptOperand::kReal;
    o.real = v;
    return Push(o);
}

bool OperandStack::PushInteger(std::int64_t v) {
    PostScriptOperand o;
    o.type = PostScriptOperand::kInteger;
    o.integer = v;
    return Push(o);
}

bool OperandStack::PushBoolean(bool v) {
    PostScriptOperand o;
    o.type = PostScriptOperand::kBoolean;
    o.boolean = v;
    return Push(o);
}

bool OperandStack::PopNumber(double& v) {
    if (operands_.empty()) return false;
    const PostScriptOperand& top = operands_.back();
    if (top.type == PostScriptOperand::kInteger)
        v = static_cast<double>(top.integer);
    else if (top.type == PostScriptOperand::kReal)
        v = top.real;
    else
        return false;
    operands_.pop_back();
    return true;
}

bool OperandStack::PopInteger(std::int64_t& v) {
    if (!TopIsInteger()) return false;
    v = operands_.back().integer;
    operands_.pop_back();
    return true;
}

bool OperandStack::PopBoolean(bool& v) {
    if (operands_.empty() || operands_.back().type != PostScriptOperand::kBoolean) return false;
    v = operands_.back().boolean;
    operands_.pop_back();
    return true;
}

bool OperandStack::TopTwoAreIntegers() const {
    const std::size_t n = operands_.size();
    return n >= 2 && operands_[n - 1].type == PostScriptOperand::kInteger &&
           operands_[n - 2].type == PostScriptOperand::kInteger;
}

bool OperandStack::TopTwoAreNumbers() const {
    const std::size_t n = operands_.size();
    return n >= 2 && operands_[n - 1].type != PostScriptOperand::kBoolean &&
           operands_[n - 2].type != PostScriptOperand::kBoolean;
}

bool OperandStack::TopTwoAreBooleans() const {
    const std::size_t n = operands_.size();
    return n >= 2 && operands_[n - 1].type == PostScriptOperand::kBoolean &&
           operands_[n - 2].type == PostScriptOperand::kBoolean;
}

bool OperandStack::Pop() {
    if (operands_.empty()) return false;
    operands_.pop_back();
    return true;
}

void OperandStack::Reverse() { std::reverse(operands_.begin(), operands_.end()); }

bool OperandStack::Copy(std::int64_t n) {
    if (n < 0 || static_cast<std::uint64_t>(n) > operands_.size()) return false;
    if (operands_.size() + static_cast<std::size_t>(n) > kMaxOperands) return false;
    const std::size_t first = operands_.size() - static_cast<std::size_t>(n);
    for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) operands_.push_back(operands_[first + i]);
    return true;
}

bool OperandStack::Index(std::int64_t n) {
    if (n < 0 || static_cast<std::uint64_t>(n) >= operands_.size()) return false;
    return Push(operands_[operands_.size() - 1 - static_cast<std::size_t>(n)]);
}

bool OperandStack::Roll(std::int64_t n, std::int64_t j) {
    if (n < 0 || static_cast<std::uint64_t>(n) > operands_.size()) return false;
    if (n == 0) return true;
    // j positive moves the top toward the bottom of the n: a right rotation by j mod n.
    std::int64_t shift = j % n;
    if (shift < 0) shift += n;
    const auto first = operands_.end() - n;
    std::rotate(first, operands_.end() - shift, operands_.end());
    return true;
}

// ---- Parser ---------------------------------------------------------------------------------

PostScriptProgram::Token PostScriptProgram::NextToken(PostScriptNode& token) {
    for (;;) {
        while (position_ < length_ && IsSpace(source_[position_])) ++position_;
        if (position_ >= length_) return kEnd;
        if (source_[position_] != '%') break;
        while (position_ < length_ && source_[position_] != '\n' && source_[position_] != '\r') ++position_;
    }
    const std::uint8_t c = source_[position_];
    if (c == '{') {
        ++position_;
        return kOpen;
    }
    if (c == '}') {
        ++position_;
        return kClose;
    }
    const std::size_t start = position_;
    if (std::isalpha(c)) {
        while (position_ < length_ && std::isalpha(source_[position_])) ++position_;
        if (position_ - start > kMaxToken) return kBad;
        token = PostScriptNode{};
        token.kind = PostScriptNode::kOperator;
        token.op = LookupPostScriptOperator(
            std::string_view(reinterpret_cast<const char*>(source_ + start), position_ - start));
        return kName;
    }
    if (std::isdigit(c) || c == '-' || c == '+' || c == '.') {
        ++position_;
        while (position_ < length_ && (std::isdigit(source_[position_]) || source_[position_] == '-' ||
                                       source_[position_] == '.' || source_[position_] == 'e' ||
                                       source_[position_] == 'E'))
            ++position_;
        if (position_ - start > kMaxToken) return kBad;
        const std::string text(reinterpret_cast<const char*>(source_ + start), position_ - start);
        token = PostScriptNode{};
        const bool real = text.find_first_of(".eE") != std::string::npos;
        char* end = nullptr;
        if (!real) {
            errno = 0;
            const long long v = std::strtoll(text.c_str(), &end, 10);
            if (end == text.c_str() + text.size() && errno == 0 && v >= std::numeric_limits<std::int32_t>::min() &&
                v <= std::numeric_limits<std::int32_t>::max()) {
                token.kind = PostScriptNode::kInteger;
                token.integer = v;
                return kNumberInteger;
            }
        }
        // Reals, and integers too large for 32 bits, which PostScript reads as reals.
        const double v = std::strtod(text.c_str(), &end);
        if (end != text.c_str() + text.size()) return kBad;
        token.kind = PostScriptNode::kReal;
        token.real = v;
        return kNumberReal;
    }
    return kBad;
}

bool PostScriptProgram::ParseBlock(std::vector<PostScriptNode>& nodes, int depth) {
    if (depth > kMaxNesting) return false;
    for (;;) {
        PostScriptNode token;
        switch (NextToken(token)) {
            case kClose: return true;
            case kNumberInteger:
            case kNumberReal:
            case kName: nodes.push_back(std::move(token)); break;
            case kOpen: {
                PostScriptNode node;
                node.kind = PostScriptNode::kOperator;
                if (!ParseBlock(node.ifBlock, depth + 1)) return false;
                PostScriptNode next;
                Token t = NextToken(next);
                if (t == kName && next.op == kIf) {
                    node.op = kIf;
                } else if (t == kOpen) {
                    if (!ParseBlock(node.elseBlock, depth + 1)) return false;
                    t = NextToken(next);
                    if (t != kName || next.op != kIfelse) return false;
                    node.op = kIfelse;
                } else {
                    return false;
                }
                nodes.push_back(std::move(node));
                break;
            }
            default: return false;  // the end inside a block, or a byte that starts no token
        }
    }
}

bool PostScriptProgram::Parse(const std::uint8_t* source, std::size_t length) {
    source_ = source;
    length_ = source ? length : 0;
    position_ = 0;
    nodes_.clear();
    PostScriptNode token;
    bool ok = NextToken(token) == kOpen && ParseBlock(nodes_, 1) && NextToken(token) == kEnd;
    if (!ok) nodes_.clear();
    source_ = nullptr;
    return ok;
}

// ---- Executor -------------------------------------------------------------------------------

bool PostScriptProgram::Execute(OperandStack& stack) const { return ExecuteBlock(stack, nodes_); }

bool PostScriptProgram::ExecuteBlock(OperandStack& s, const std::vector<PostScriptNode>& nodes) const {
    for (const PostScriptNode& node : nodes) {
        if (node.kind == PostScriptNode::kInteger) {
            if (!s.PushInteger(node.integer)) return false;
            continue;
        }
        if (node.kind == PostScriptNode::kReal) {
            if (!s.PushReal(node.real)) return false;
            continue;
        }
        std::int64_t i = 0, k = 0;
        double a = 0, b = 0;
        bool p = false, q = false;
        switch (node.op) {
            case kAbs:
                if (s.TopIsInteger()) {
                    s.PopInteger(i);
                    if (i == std::numeric_limits<std::int64_t>::min()) {
                        s.PushReal(-static_cast<double>(i));
                    } else {
                        s.PushInteger(i < 0 ? -i : i);
                    }
                } else {
                    if (!s.PopNumber(a)) return false;
                    s.PushReal(std::fabs(a));
                }
                break;
            case kAdd:
            case kSub:
            case kMul:
                if (s.TopTwoAreIntegers()) {
                    s.PopInteger(k);
                    s.PopInteger(i);
                    std::int64_t r = 0;
                    const bool overflow = node.op == kAdd   ? __builtin_add_overflow(i, k, &r)
                                          : node.op == kSub ? __builtin_sub_overflow(i, k, &r)
                                                            : __builtin_mul_overflow(i, k, &r);
                    if (!overflow) {
                        s.PushInteger(r);
                    } else {
                        // Integers that overflow become reals, as in PostScript.
                        const double x = static_cast<double>(i), y = static_cast<double>(k);
                        s.PushReal(node.op == kAdd ? x + y : node.op == kSub ? x - y : x * y);
                    }
                } else {
                    if (!s.TopTwoAreNumbers()) return false;
                    s.PopNumber(b);
                    s.PopNumber(a);
                    s.PushReal(node.op == kAdd ? a + b : node.op == kSub ? a - b : a * b);
                }
                break;
            case kDiv:
                if (!s.TopTwoAreNumbers()) return false;
                s.PopNumber(b);
                s.PopNumber(a);
                if (b == 0) return false;
                s.PushReal(a / b);
                break;
            case kIdiv:
            case kMod:
                if (!s.TopTwoAreIntegers()) return false;
                s.PopInteger(k);
                s.PopInteger(i);
                if (k == 0) return false;
                if (i == std::numeric_limits<std::int64_t>::min() && k == -1) {
                    if (node.op == kIdiv)
                        s.PushReal(-static_cast<double>(i));
                    else
                        s.PushInteger(0);
                } else {
                    s.PushInteger(node.op == kIdiv ? i / k : i % k);
                }
                break;
            case kNeg:
                if (s.TopIsInteger()) {
                    s.PopInteger(i);
                    if (i == std::numeric_limits<std::int64_t>::min())
                        s.PushReal(-static_cast<double>(i));
                    else
                        s.PushInteger(-i);
                } else {
                    if (!s.PopNumber(a)) return false;
                    s.PushReal(-a);
                }
                break;
            case kCeiling:
            case kFloor:
            case kRound:
            case kTruncate:
            case kCvi:
            case kCvr:
                if (s.TopIsInteger() && (node.op == kCeiling || node.op == kFloor || node.op == kCvi)) break;
                if (!s.PopNumber(a)) return false;
                switch (node.op) {
                    case kCeiling: s.PushReal(std::ceil(a)); break;
                    case kFloor: s.PushReal(std::floor(a)); break;
                    case kRound: s.PushReal(a > 0 ? std::floor(a + 0.5) : std::ceil(a - 0.5)); break;
                    case kTruncate: s.PushReal(std::trunc(a)); break;
                    case kCvi: s.PushInteger(TruncatedInteger(a)); break;
                    default: s.PushReal(a); break;
                }
                break;
            case kSqrt:
            case kSin:
            case kCos:
            case kLn:
            case kLog:
                if (!s.PopNumber(a)) return false;
                s.PushReal(node.op == kSqrt  ? std::sqrt(a)
                           : node.op == kSin ? std::sin(a / kDegrees)
                           : node.op == kCos ? std::cos(a / kDegrees)
                           : node.op == kLn  ? std::log(a)
                                             : std::log10(a));
                break;
            case kAtan:
            case kExp:
                if (!s.TopTwoAreNumbers()) return false;
                s.PopNumber(b);
                s.PopNumber(a);
                if (node.op == kAtan) {
                    double angle = std::atan2(a, b) * kDegrees;
                    if (angle < 0) angle += 360;  // PostScript gives 0 to 360
                    s.PushReal(angle);
                } else {
                    s.PushReal(std::pow(a, b));
                }
                break;
            case kEq:
            case kNe:
            case kGe:
            case kGt:
            case kLe:
            case kLt: {
                bool r;
                if (s.TopTwoAreIntegers()) {
                    s.PopInteger(k);
                    s.PopInteger(i);
                    r = node.op == kEq ? i == k : node.op == kNe ? i != k : node.op == kGe ? i >= k
                                                 : node.op == kGt   ? i > k
                                                 : node.op == kLe   ? i <= k
                                                                    : i < k;
                } else if (s.TopTwoAreNumbers()) {
                    s.PopNumber(b);
                    s.PopNumber(a);
                    r = node.op == kEq ? a == b : node.op == kNe ? a != b : node.op == kGe ? a >= b
                                                 : node.op == kGt   ? a > b
                                                 : node.op == kLe   ? a <= b
                                                                    : a < b;
                } else if ((node.op == kEq || node.op == kNe) && s.TopTwoAreBooleans()) {
                    s.PopBoolean(q);
                    s.PopBoolean(p);
                    r = node.op == kEq ? p == q : p != q;
                } else {
                    return false;
                }
                s.PushBoolean(r);
                break;
            }
            case kAnd:
            case kOr:
            case kXor:
                if (s.TopTwoAreIntegers()) {
                    s.PopInteger(k);
                    s.PopInteger(i);
                    s.PushInteger(node.op == kAnd ? (i & k) : node.op == kOr ? (i | k) : (i ^ k));
                } else if (s.TopTwoAreBooleans()) {
                    s.PopBoolean(q);
                    s.PopBoolean(p);
                    s.PushBoolean(node.op == kAnd ? (p && q) : node.op == kOr ? (p || q) : (p != q));
                } else {
                    return false;
                }
                break;
            case kNot:
                if (s.TopIsInteger()) {
                    s.PopInteger(i);
                    s.PushInteger(~i);
                } else {
                    if (!s.PopBoolean(p)) return false;
                    s.PushBoolean(!p);
                }
                break;
            case kBitshift:
                if (!s.TopTwoAreIntegers()) return false;
                s.PopInteger(k);
                s.PopInteger(i);
                if (k >= 64 || k <= -64)
                    s.PushInteger(0);
                else if (k > 0)
                    s.PushInteger(static_cast<std::int64_t>(static_cast<std::uint64_t>(i) << k));
                else if (k <= -32)
                    s.PushInteger(0);
                else if (k < 0)
                    // The low 32 bits shifted right with zeros entering, sign-extended back.
                    s.PushInteger(static_cast<std::int32_t>(static_cast<std::uint32_t>(i) >> -k));
                else
                    s.PushInteger(i);
                break;
            case kTrue:
            case kFalse:
                if (!s.PushBoolean(node.op == kTrue)) return false;
                break;
            case kPop:
                if (!s.Pop()) return false;
                break;
            case kExch:
                if (!s.Roll(2, 1)) return false;
                break;
            case kDup:
                if (!s.Copy(1)) return false;
                break;
            case kCopy:
                if (!s.PopInteger(i) || !s.Copy(i)) return false;
                break;
            case kIndex:
                if (!s.PopInteger(i) || !s.Index(i)) return false;
                break;
            case kRoll:
                if (!s.PopInteger(k) || !s.PopInteger(i) || !s.Roll(i, k)) return false;
                break;
            case kIf:
                if (!s.PopBoolean(p)) return false;
                if (p && !ExecuteBlock(s, node.ifBlock)) return false;
                break;
            case kIfelse:
                if (!s.PopBoolean(p)) return false;
                if (!ExecuteBlock(s, p ? node.ifBlock : node.elseBlock)) return false;
                break;
            default: break;  // an unknown name is skipped
        }
    }
    return true;
}
