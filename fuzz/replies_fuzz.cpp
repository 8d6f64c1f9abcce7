// Control-connection replies: the input is what a server sends, cut into lines at LF as the socket
// reads them. A reply ends within its bounds; a reply opened by "ddd-" ends only at the line with
// the same code and a blank, every other one at a line that neither starts with a blank nor has
// "-" fourth; the lines after it are left for the next reply.
#include "ftp/replies.h"
#include "fuzz/fuzz.h"

#include <vector>

namespace {

constexpr std::size_t kMaxLines = 40;
constexpr std::size_t kMaxBytes = 1024;

bool digit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmo;
    std::string_view input = fuzz::bytes(data, size);
    std::vector<std::string_view> lines;
    while (!input.empty()) {
        const std::size_t lf = input.find('\n');
        const std::size_t take = lf == std::string_view::npos ? input.size() : lf + 1;
        lines.push_back(input.substr(0, take));
        input.remove_prefix(take);
    }
    if (lines.empty())
        return 0;

    ReplyLines reply(kMaxLines, kMaxBytes);
    std::size_t used = 0, bytes = 0;
    ReplyLines::Next next = ReplyLines::Next::More;
    while (next == ReplyLines::Next::More && used < lines.size()) {
        bytes += lines[used].size();
        next = reply.take(lines[used++]);
    }
    if (next == ReplyLines::Next::TooLong) {
        fuzz::check(used > kMaxLines || bytes > kMaxBytes, "a reply within its bounds was cut off");
        return 0;
    }
    fuzz::check(used <= kMaxLines && bytes <= kMaxBytes, "a reply past its bounds was accepted");

    const std::string_view first = lines.front();
    const bool coded =
        first.size() > 3 && digit(first[0]) && digit(first[1]) && digit(first[2]) && first[3] == '-';
    if (coded)
        fuzz::check(reply.openingCode() == first.substr(0, 3), "the opening code is not the first line's");
    if (next != ReplyLines::Next::Done)
        return 0; // the server stopped sending
    const std::string_view last = lines[used - 1];
    const std::string code = reply.openingCode();
    if (!code.empty()) {
        fuzz::check(used > 1, "a multi-line reply ended at its first line");
        fuzz::check(last.substr(0, 3) == code &&
                        (last.size() == 3 || last[3] == ' ' || last[3] == '\r' || last[3] == '\n'),
                    "a multi-line reply ended at a line without its code and a blank");
        for (std::size_t i = 1; i + 1 < used; ++i)
            fuzz::check(!(lines[i].substr(0, 3) == code && lines[i].size() > 3 && lines[i][3] == ' '),
                        "a multi-line reply ran past its closing line");
    } else {
        fuzz::check(last.empty() || (last[0] != ' ' && (last.size() <= 3 || last[3] != '-')),
                    "a reply ended at a continuation line");
    }
    return 0;
}
