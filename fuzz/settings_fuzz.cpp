// The settings store file: whatever text it is read from, the text a save writes reads back to the
// same values, and a value written into it (any bytes, under any name) reads back unchanged while
// every other value stays as it was.
#include "fuzz/fuzz.h"
#include "platform/errors.h"
#include "platform/linefile.h"
#include "platform/settings_store.h"

#include <cstdlib>
#include <map>
#include <optional>
#include <unistd.h>

namespace {

using velmo::SettingsStore;

// Each name with its value, or nullopt for a value that is not a string.
std::map<std::string, std::optional<std::string>> valuesOf(const SettingsStore& store) {
    std::map<std::string, std::optional<std::string>> values;
    for (const std::string& name : store.valueNames()) {
        try {
            values[name] = store.readString(name);
        } catch (const velmo::Exception&) {
            values[name] = std::nullopt;
        }
    }
    return values;
}

const std::string& scratchPath() {
    static const std::string path = [] {
        // In memory where there is a tmpfs: every save flushes, which a disk makes slow.
        for (const char* base : {"/dev/shm", "/tmp"}) {
            std::string folder = std::string(base) + "/velmo-settings-fuzz-XXXXXX";
            if (::mkdtemp(folder.data())) {
                static std::string made;
                made = folder;
                std::atexit([] {
                    ::unlink((made + "/velmo.ini").c_str());
                    ::rmdir(made.c_str());
                });
                return folder + "/velmo.ini";
            }
        }
        velmo::fuzz::fail("no scratch folder");
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmo;
    // The input is the file, then after the first NUL NUL pair a name, NUL, and a value to write.
    std::string_view input = fuzz::bytes(data, size);
    const std::size_t cut = input.find(std::string_view("\0\0", 2));
    const std::string fileText(input.substr(0, cut));
    std::string name, value;
    if (cut != std::string_view::npos) {
        const std::string_view rest = input.substr(cut + 2);
        const std::size_t nul = rest.find('\0');
        name = rest.substr(0, nul);
        value = nul == std::string_view::npos ? std::string() : std::string(rest.substr(nul + 1));
    }

    const auto store = SettingsStore::fromText(scratchPath(), fileText);
    const auto values = valuesOf(*store);
    const std::string saved = store->text();
    const auto reread = SettingsStore::fromText(scratchPath(), saved);
    fuzz::check(valuesOf(*reread) == values, "saved settings read back to other values");
    fuzz::check(reread->text() == saved, "a second save writes other text");

    if (cut == std::string_view::npos)
        return 0;
    store->writeString(name, value);
    const auto written = SettingsStore::fromText(scratchPath(), readFileBytes(scratchPath()));
    auto expected = values;
    expected[name] = value;
    fuzz::check(valuesOf(*written) == expected, "a written value reads back changed or changed others");
    return 0;
}
