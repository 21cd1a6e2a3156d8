#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// The PostScript calculator of type 4 PDF functions: a program text compiled once into a tree
// of nodes and run on an operand stack for each set of inputs. Every program ends: blocks nest
// at most kMaxNesting deep, the stack holds at most kMaxOperands, and an operator that meets an
// operand of the wrong type, too few operands, a full stack or a division by zero ends the run.

// The operator's index in the sorted table of the 42 operator names; -1 for any other name.
int LookupPostScriptOperator(std::string_view name);

struct PostScriptNode {
    enum Kind : std::int32_t { kInteger = 1, kReal = 2, kOperator = 3 };
    double real = 0;
    std::int64_t integer = 0;
    std::vector<PostScriptNode> ifBlock;
    std::vector<PostScriptNode> elseBlock;
    std::int32_t kind = kInteger;
    std::int32_t op = -1;
};

struct PostScriptOperand {
    enum Type : std::int32_t { kBoolean = 0, kInteger = 1, kReal = 2 };
    double real = 0;
    std::int32_t type = kInteger;
    std::int64_t integer = 0;
    bool boolean = false;
};

class OperandStack {
public:
    static constexpr std::size_t kMaxOperands = 100;

    void Reset() { operands_.clear(); operands_.reserve(kMaxOperands); }
    void Clear() { operands_.clear(); }
    // False (nothing pushed) when the stack is full.
    bool PushReal(double v);
    bool PushInteger(std::int64_t v);
    bool PushBoolean(bool v);
    bool PopNumber(double& v);
    bool PopInteger(std::int64_t& v);
    bool PopBoolean(bool& v);
    bool TopIsInteger() const { return !operands_.empty() && operands_.back().type == PostScriptOperand::kInteger; }
    bool TopTwoAreIntegers() const;
    bool TopTwoAreNumbers() const;
    bool TopTwoAreBooleans() const;
    bool IsEmpty() const { return operands_.empty(); }
    std::size_t Count() const { return operands_.size(); }
    bool Pop();
    void Reverse();
    bool Copy(std::int64_t n);
    bool Index(std::int64_t n);
    bool Roll(std::int64_t n, std::int64_t j);
    const PostScriptOperand& At(std::size_t i) const { return operands_[i]; }  // 0 = bottom

private:
    bool Push(const PostScriptOperand& operand);
    std::vector<PostScriptOperand> operands_;
};

class PostScriptProgram {
public:
    static constexpr int kMaxNesting = 100;
    static constexpr std::size_t kMaxToken = 99;

    // Compiles the text. False when it is refused: no opening "{", a block left open, blocks
    // nested too deep, a token too long, a byte that starts no token, a block without its `if`
    // or `ifelse`, or text after the closing "}".
    bool Parse(const std::uint8_t* source, std::size_t length);
    // Runs the program on the stack. False when the run ended early (see above); the stack
    // holds what was computed until then.
    bool Execute(OperandStack& stack) const;
    const std::vector<PostScriptNode>& nodes() const { return nodes_; }

private:
    enum Token { kEnd = 0, kNumberInteger = 1, kNumberReal = 2, kName = 3, kOpen = 4, kClose = 5, kBad = 6 };
    Token NextToken(PostScriptNode& token);
    bool ParseBlock(std::vector<PostScriptNode>& nodes, int depth);
    bool ExecuteBlock(OperandStack& stack, const std::vector<PostScriptNode>& nodes) const;

    const std::uint8_t* source_ = nullptr;
    std::size_t length_ = 0;
    std::size_t position_ = 0;
    std::vector<PostScriptNode> nodes_;
};
