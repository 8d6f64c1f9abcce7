// The order merge's file side: the fast check for the written form agrees with the plain rule (the
// bytes are exactly their own lines written back), and the server lines it appends are those lines
// with ";;0", the first left out when asked and blank ones always.
#include "datafiles/ordermerge.h"
#include "fuzz/fuzz.h"
#include "platform/linefile.h"

#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace {

const std::string& scratchPath() {
    static const std::string path = [] {
        // In memory where there is a tmpfs: the check reads a file.
        for (const char* base : {"/dev/shm", "/tmp"}) {
            std::string folder = std::string(base) + "/velmo-ordermerge-fuzz-XXXXXX";
            if (::mkdtemp(folder.data())) {
                static std::string made;
                made = folder;
                std::atexit([] {
                    ::unlink((made + "/kunden.db").c_str());
                    ::rmdir(made.c_str());
                });
                return folder + "/kunden.db";
            }
        }
        velmo::fuzz::fail("no scratch folder");
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmo;
    const std::string_view bytes = fuzz::bytes(data, size);
    const Lines lines = splitLines(bytes);

    std::ofstream(scratchPath(), std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    fuzz::check(datafiles::inWrittenForm(scratchPath()) == (joinLines(lines) == bytes),
                "the written-form check disagrees with the lines written back");

    for (bool skipFirst : {false, true}) {
        std::string expected;
        // Lines of nothing but white space are no orders and stay out.
        for (std::size_t i = skipFirst ? 1 : 0; i < lines.size(); ++i)
            if (lines[i].find_first_not_of(" \t\v\f") != std::string::npos)
                expected += lines[i] + ";;0\r\n";
        fuzz::check(datafiles::mergedLines(bytes, skipFirst) == expected,
                    "merged lines differ from the file's lines");
    }
    return 0;
}
