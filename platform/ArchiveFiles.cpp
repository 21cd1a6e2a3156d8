#include "platform/ArchiveFiles.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-utils.h>
#include <zip.h>

#include <limits>
#include <mutex>

namespace platform {

namespace {
// Entries and streams larger than this are not read (a damaged size field, or a bomb).
constexpr std::uint64_t kMaxPartBytes = std::uint64_t{512} << 20;

}  // namespace

void InitialiseGsf() {
    static std::once_flag initialised;
    std::call_once(initialised, [] {
        gsf_init();
        // libgsf registers its classes the first time each is asked for, without a lock: two
        // threads making their first compound file at once both registered them, and the second
        // registration failed (the file then failed too). All are registered here, once.
        for (GType type : {gsf_output_get_type(), gsf_outfile_get_type(), gsf_output_memory_get_type(),
                           gsf_outfile_msole_get_type(), gsf_input_get_type(), gsf_infile_get_type(),
                           gsf_input_stdio_get_type(), gsf_infile_msole_get_type()})
            g_type_class_unref(g_type_class_ref(type));
    });
}

std::optional<std::vector<std::uint8_t>> ReadZipEntry(const std::filesystem::path& zipFile, const std::string& name) {
    int error = 0;
    zip_t* archive = zip_open(zipFile.c_str(), ZIP_RDONLY, &error);
    if (!archive) return std::nullopt;
    std::optional<std::vector<std::uint8_t>> result;
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat(archive, name.c_str(), 0, &stat) == 0 && (stat.valid & ZIP_STAT_SIZE) && stat.size <= kMaxPartBytes) {
        if (zip_file_t* entry = zip_fopen(archive, name.c_str(), 0)) {
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stat.size));
            const zip_int64_t read = bytes.empty() ? 0 : zip_fread(entry, bytes.data(), bytes.size());
            if (read == static_cast<zip_int64_t>(bytes.size())) result = std::move(bytes);
            zip_fclose(entry);
        }
    }
    zip_discard(archive);
    return result;
}

std::optional<std::vector<std::uint8_t>> ReadCompoundFileStream(const std::filesystem::path& file,
                                                                const std::string& name) {
    InitialiseGsf();
    GError* error = nullptr;
    GsfInput* input = gsf_input_stdio_new(file.c_str(), &error);
    if (error) g_error_free(error);
    if (!input) return std::nullopt;
    error = nullptr;
    GsfInfile* infile = gsf_infile_msole_new(input, &error);
    if (error) g_error_free(error);
    g_object_unref(input);
    if (!infile) return std::nullopt;
    std::optional<std::vector<std::uint8_t>> result;
    if (GsfInput* stream = gsf_infile_child_by_name(infile, name.c_str())) {
        const gsf_off_t size = gsf_input_size(stream);
        if (size >= 0 && static_cast<std::uint64_t>(size) <= kMaxPartBytes) {
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
            if (bytes.empty() || gsf_input_read(stream, bytes.size(), bytes.data())) result = std::move(bytes);
        }
        g_object_unref(stream);
    }
    g_object_unref(infile);
    return result;
}

std::optional<std::vector<std::uint8_t>> CompoundFileBytes(const std::vector<CompoundFileStream>& streams) {
    InitialiseGsf();
    GsfOutput* sink = gsf_output_memory_new();
    if (!sink) return std::nullopt;
    GsfOutfile* root = gsf_outfile_msole_new(sink);
    bool ok = root != nullptr;
    if (ok) {
        for (const CompoundFileStream& stream : streams) {
            GsfOutput* child = gsf_outfile_new_child(root, stream.name.c_str(), FALSE);
            if (!child) {
                ok = false;
                break;
            }
            ok = (stream.bytes.empty() || gsf_output_write(child, stream.bytes.size(), stream.bytes.data())) && ok;
            ok = gsf_output_close(child) != FALSE && ok;
            g_object_unref(child);
        }
        ok = gsf_output_close(GSF_OUTPUT(root)) != FALSE && ok;
        g_object_unref(root);
    }
    std::optional<std::vector<std::uint8_t>> result;
    if (ok) {
        const guint8* bytes = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(sink));
        const gsf_off_t size = gsf_output_size(sink);
        if (bytes && size > 0) result.emplace(bytes, bytes + size);
    }
    // Closing the compound file closes its sink too; a second close is a GLib critical.
    if (!gsf_output_is_closed(sink)) gsf_output_close(sink);
    g_object_unref(sink);
    return result;
}

}  // namespace platform
