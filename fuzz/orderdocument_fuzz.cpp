// kunden.db through the order document: whatever the reader makes of the bytes, writing them back
// without a change gives the lines it read (blank ones left out) and, from a line it could not read
// on, every line as it stood; a file in written form that it reads whole comes back byte for byte.
#include "fuzz/fuzz.h"
#include "orders/core/orderdocument.h"
#include "platform/linefile.h"

#include <cstdlib>
#include <string>

namespace {

const std::string& scratch() {
    static const std::string dir = [] {
        char pattern[] = "/tmp/orderdocument_fuzz.XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (!made)
            velmo::fuzz::fail("no scratch folder");
        return std::string(made);
    }();
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmo;
    const std::string_view bytes = fuzz::bytes(data, size);
    const std::string path = scratch() + "/kunden.db";
    writeFileBytes(path, bytes);

    OrderDocument doc;
    try {
        doc.loadOrders(path);
    } catch (const Exception&) {
        // A line it cannot read: the lines from it on are kept.
    }
    const Lines lines = splitLines(bytes);
    const std::size_t unread = doc.unreadLines().size();
    fuzz::check(unread <= lines.size(), "more lines unread than the file has");
    Lines expected;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i >= lines.size() - unread || !datafiles::isBlankLine(lines[i]))
            expected.push_back(lines[i]);
    }

    // In the order the lines were read.
    doc.orders().setIndexName("");
    doc.save(path, scratch() + "/lock");
    const std::string written = readFileBytes(path);
    fuzz::check(written == joinLines(expected), "a write without changes changed the lines");
    if (unread == 0 && joinLines(lines) == bytes && expected.size() == lines.size())
        fuzz::check(written == bytes, "a file in written form did not come back byte for byte");
    return 0;
}
