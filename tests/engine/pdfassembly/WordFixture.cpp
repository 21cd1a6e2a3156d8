// A Word 97 document of one piece of 8-bit text, its piece table in the 1Table stream: the
// least that Word's readers take.

#include "engine/pdfassembly/WordFixture.h"

#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {
void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    b[at] = v & 0xFF;
    b[at + 1] = v >> 8;
}
void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}

}  // namespace

namespace assemblytest {

bool WriteWordFixture(const std::filesystem::path& file, const std::string& text) {
    gsf_init();
    GError* error = nullptr;
    GsfOutput* output = gsf_output_stdio_new(file.c_str(), &error);
    if (error) g_error_free(error);
    if (!output) return false;
    GsfOutfile* ole = gsf_outfile_msole_new(output);
    g_object_unref(output);
    const std::size_t textAt = 0x800;
    std::vector<std::uint8_t> word(std::max<std::size_t>(textAt + text.size() + 0x200, 0x2000), 0);
    Put16(word, 0x00, 0xA5EC);
    Put16(word, 0x02, 0x00C1);
    Put16(word, 0x06, 0x0409);
    Put16(word, 0x0A, 0x0200);  // the 1Table stream
    Put16(word, 0x0C, 0x00BF);
    Put32(word, 0x18, textAt);                // fcMin
    Put32(word, 0x1C, textAt + text.size());  // fcMac
    Put16(word, 0x20, 14);
    Put16(word, 0x3E, 22);
    Put32(word, 0x40, word.size());  // cbMac
    Put32(word, 0x4C, text.size());  // ccpText
    Put16(word, 0x98, 93);
    std::vector<std::uint8_t> table(21, 0);
    table[0] = 0x02;
    Put32(table, 1, 16);
    Put32(table, 5, 0);
    Put32(table, 9, text.size());
    Put32(table, 15, (textAt * 2) | 0x40000000u);
    Put32(word, 0x9A + 33 * 8, 0);  // fcClx
    Put32(word, 0x9A + 33 * 8 + 4, table.size());
    for (std::size_t i = 0; i < text.size(); ++i) word[textAt + i] = static_cast<std::uint8_t>(text[i]);
    const auto stream = [&](const char* name, const std::vector<std::uint8_t>& bytes) {
        GsfOutput* child = gsf_outfile_new_child(ole, name, FALSE);
        gsf_output_write(child, bytes.size(), bytes.data());
        gsf_output_close(child);
        g_object_unref(child);
    };
    stream("WordDocument", word);
    stream("1Table", table);
    gsf_output_close(GSF_OUTPUT(ole));
    g_object_unref(ole);
    return true;
}
}  // namespace assemblytest
