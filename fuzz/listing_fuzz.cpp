// Listing lines and byte counts from the server: any line splits into at most MaxWords words without
// blanks, and the UNIX parser's columns stay in step.
#include "ftp/FtpClient.h"
#include "fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmo;
    const std::string line(fuzz::bytes(data, size));
    fuzz::check(TFtpClient::ParseByteCount(line) >= 0, "a negative byte count");
    if (line.empty())
        return 0;
    TFTPUnixList list;
    list.ParseLine(line);
    fuzz::check(list.WordCount >= 0 && list.WordCount <= TFTPDirectoryList::MaxWords,
                "word count out of range");
    for (int i = 0; i < list.WordCount; ++i) {
        fuzz::check(list.Words[static_cast<std::size_t>(i)].size() <= TFTPDirectoryList::MaxWordLength,
                    "a word longer than allowed");
        fuzz::check(list.Words[static_cast<std::size_t>(i)].find(' ') == std::string::npos,
                    "a word holds a blank");
    }
    fuzz::check(list.Names.size() == list.Sizes.size() && list.Names.size() == list.Dates.size() &&
                    list.Names.size() == list.Attributes.size(),
                "listing columns out of step");
    return 0;
}
