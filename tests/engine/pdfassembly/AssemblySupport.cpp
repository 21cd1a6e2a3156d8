#include "engine/pdfassembly/AssemblySupport.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include "support/MagickReader.h"

namespace fs = std::filesystem;
using testimage::RunCommand;
using testimage::ShellQuote;

namespace assemblytest {

namespace {
std::string PasswordOption(const std::string& tool, const std::string& password) {
    if (password.empty()) return {};
    return tool == "qpdf" ? " --password=" + ShellQuote(password) : " -upw " + ShellQuote(password);
}
}  // namespace

std::vector<std::string> PdfWords(const fs::path& pdf, const std::string& password) {
    std::string out;
    RunCommand("pdftotext -q" + PasswordOption("poppler", password) + " " + ShellQuote(pdf.string()) + " -", &out);
    std::istringstream in(out);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

bool HasInOrder(const std::vector<std::string>& words, const std::vector<std::string>& wanted) {
    std::size_t next = 0;
    for (const std::string& word : words)
        if (next < wanted.size() && word == wanted[next]) ++next;
    return next == wanted.size();
}

std::string PdfInfo(const fs::path& pdf, const std::string& key, const std::string& password) {
    std::string out;
    RunCommand("pdfinfo" + PasswordOption("poppler", password) + " " + ShellQuote(pdf.string()), &out);
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key + ":", 0) != 0) continue;
        std::string value = line.substr(key.size() + 1);
        value.erase(0, value.find_first_not_of(' '));
        return value;
    }
    return {};
}

bool QpdfCheckClean(const fs::path& pdf, const std::string& password, std::string* log) {
    std::string out;
    const int status = RunCommand("qpdf --check" + PasswordOption("qpdf", password) + " " + ShellQuote(pdf.string()), &out);
    if (log) *log = out;
    return status == 0 && out.find("No syntax or stream encoding errors found") != std::string::npos;
}

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary);
    out << bytes;
}

}  // namespace assemblytest
