// The PostScript calculator: programs and the values they leave, and hostile programs that must
// end with defined results.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "engine/extraction/PostScriptCalculator.h"

namespace {

struct Result {
    bool parsed = false;
    bool completed = false;
    std::vector<double> values;  // bottom first
    std::vector<int> types;
};

Result RunProgram(const std::string& text, std::vector<double> inputs = {}) {
    PostScriptProgram program;
    Result r;
    r.parsed = program.Parse(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    OperandStack stack;
    stack.Reset();
    for (double v : inputs) stack.PushReal(v);
    r.completed = program.Execute(stack);
    for (std::size_t i = 0; i < stack.Count(); ++i) {
        const PostScriptOperand& o = stack.At(i);
        r.types.push_back(o.type);
        r.values.push_back(o.type == PostScriptOperand::kReal      ? o.real
                           : o.type == PostScriptOperand::kInteger ? static_cast<double>(o.integer)
                                                                   : (o.boolean ? 1 : 0));
    }
    return r;
}

constexpr int I = PostScriptOperand::kInteger;
constexpr int R = PostScriptOperand::kReal;
constexpr int B = PostScriptOperand::kBoolean;

TEST(PostScriptCalculator, Programs) {
    const struct {
        const char* text;
        std::vector<double> inputs;
        std::vector<double> values;
        std::vector<int> types;
    } cases[] = {
        {"{ 1 exch sub }", {0.25}, {0.75}, {R}},
        {"{ dup 0.5 gt { pop 1 } { pop 0 } ifelse }", {0.6}, {1}, {I}},
        {"{ dup 0.5 gt { pop 1 } { pop 0 } ifelse }", {0.4}, {0}, {I}},
        {"{ 2 3 add }", {0.1}, {0.1, 5}, {R, I}},
        {"{ 2 3.0 add }", {}, {5}, {R}},
        {"{ 7 2 idiv 7 2 mod }", {}, {3, 1}, {I, I}},
        {"{ -7 2 idiv -7 2 mod }", {}, {-3, -1}, {I, I}},
        {"{ 0.5 round -0.5 round 2 round }", {}, {1, -1, 2}, {R, R, R}},
        {"{ 1 3 bitshift 8 -2 bitshift }", {}, {8, 2}, {I, I}},
        {"{ 1 2 3 3 1 roll }", {}, {3, 1, 2}, {I, I, I}},
        {"{ 1 2 3 3 -1 roll }", {}, {2, 3, 1}, {I, I, I}},
        {"{\t1\t2\tadd\t}", {}, {3}, {I}},
        {"{ foo 1 }", {0.5}, {0.5, 1}, {R, I}},
        {"{ 3 4 2 copy 1 index }", {}, {3, 4, 3, 4, 3}, {I, I, I, I, I}},
        {"{ 2 sqrt dup mul 4 2 exp 100 log 1 ln }", {}, {2, 16, 2, 0}, {R, R, R, R}},
        {"{ -3 abs -2.5 abs 4 neg 3.5 cvi 3 cvr 1.5 ceiling 1.5 floor -1.7 truncate }", {},
         {3, 2.5, -4, 3, 3, 2, 1, -1}, {I, R, I, I, R, R, R, R}},
        {"{ 1 2 eq 1 1.0 eq true true eq 1 2 ne 2 1 ge 1 2 gt 1 1 le 2 1 lt }", {}, {0, 1, 1, 1, 1, 0, 1, 0},
         {B, B, B, B, B, B, B, B}},
        {"{ 12 10 and 12 10 or 12 10 xor true false and true not 0 not }", {}, {8, 14, 6, 0, 0, -1},
         {I, I, I, B, B, I}},
        {"{ 1 0 atan 0 -1 atan 30 sin 60 cos }", {}, {90, 180, 0.5, 0.5}, {R, R, R, R}},
        {"{ 0 1 atan -1 0 atan }", {}, {0, 270}, {R, R}},  // angles from 0 to 360
        {"{ +1 2 add % a comment\n 1 add }", {}, {4}, {I}},
        {"{ 1.5e1 2E-1 }", {}, {15, 0.2}, {R, R}},
        {"{ 2147483647 1 add 2147483648 }", {}, {2147483648.0, 2147483648.0}, {I, R}},
        {"{ 9223372036854775807 }", {}, {9223372036854775807.0}, {R}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const Result r = RunProgram(c.text, c.inputs);
        EXPECT_TRUE(r.parsed);
        EXPECT_TRUE(r.completed);
        ASSERT_EQ(r.values.size(), c.values.size());
        for (std::size_t i = 0; i < c.values.size(); ++i) EXPECT_NEAR(r.values[i], c.values[i], 1e-6) << i;
        EXPECT_EQ(r.types, c.types);
    }
}

TEST(PostScriptCalculator, HostileProgramsEndWithDefinedResults) {
    std::string nested(10000, '{');
    std::string longName = "{ " + std::string(200, 'a') + " }";
    std::string doubling = "{ 1";
    for (int i = 0; i < 40; ++i) doubling += " 1 index copy";
    doubling += " }";
    const struct {
        const char* name;
        std::string text;
        bool parsed;
        bool completed;
        std::vector<double> values;
    } cases[] = {
        {"no opening brace", "1 2 add", false, true, {}},
        {"an unclosed block", "{ 1 2 add", false, true, {}},
        {"a bracket", "{ [ 1 ] }", false, true, {}},
        {"a comment to the end", "%c", false, true, {}},
        {"10 000 nested braces", nested, false, true, {}},
        {"a 200-byte name", longName, false, true, {}},
        {"a 30-digit number", "{ 123456789012345678901234567890 }", true, true, {1.2345678901234568e29}},
        {"a block without if", "{ { 1 } 2 }", false, true, {}},
        {"text after the program", "{ 1 } 2", false, true, {}},
        {"copy doubling 40 times", doubling, true, false, {}},
        {"roll by the largest integer", "{ 1 2 2 2147483647 roll }", true, true, {2, 1}},
        {"idiv by zero", "{ 1 0 idiv }", true, false, {}},
        {"mod by zero", "{ 1 0 mod }", true, false, {}},
        {"div by zero", "{ 1 0 div }", true, false, {}},
        {"the smallest integer idiv -1", "{ -2147483648 2147483647 -1 sub mul 2 mul -1 idiv }", true, true,
         {9223372036854775808.0}},
        {"shift by -64", "{ 1 -64 bitshift 1 64 bitshift }", true, true, {0, 0}},
        {"a comparison of nothing", "{ 0.5 gt }", true, false, {0.5}},
        {"if without a boolean", "{ 1 { 2 } if }", true, false, {1}},
        {"pop of nothing", "{ pop pop }", true, false, {}},
        {"cvi of NaN", "{ -1 sqrt cvi }", true, true, {0}},
        {"cvi of a huge real", "{ 1e300 cvi }", true, true, {9223372036854775807.0}},
        {"index past the bottom", "{ 1 5 index }", true, false, {1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = RunProgram(c.text);
        EXPECT_EQ(r.parsed, c.parsed);
        EXPECT_EQ(r.completed, c.completed);
        if (c.name == std::string("copy doubling 40 times")) {
            EXPECT_LE(r.values.size(), OperandStack::kMaxOperands);
            continue;
        }
        ASSERT_EQ(r.values.size(), c.values.size());
        for (std::size_t i = 0; i < c.values.size(); ++i) EXPECT_DOUBLE_EQ(r.values[i], c.values[i]);
    }
}

}  // namespace
