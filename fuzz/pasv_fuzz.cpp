// PASV replies: an accepted reply gives six numbers of 0 to 255 whose port formats back to the same
// two numbers, and the reply written again from those numbers gives them once more. A refused one
// says why, naming the field that is not a number.
#include "ftp/replies.h"
#include "fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmo;
    const std::string_view reply = fuzz::bytes(data, size);
    PasvError error = PasvError::None;
    std::string field;
    const auto address = parsePasvReply(reply, error, field);
    if (!address) {
        fuzz::check(error != PasvError::None, "a refused reply without a reason");
        fuzz::check(error == PasvError::NotANumber || field.empty(), "a field named for a malformed reply");
        fuzz::check(field.empty() || reply.find(field) != std::string_view::npos, "a field not in the reply");
        return 0;
    }
    fuzz::check(error == PasvError::None, "an accepted reply with an error");
    for (int f : address->fields)
        fuzz::check(f >= 0 && f <= 255, "a field outside 0 to 255");
    const int port = address->port();
    fuzz::check(port / 256 == address->fields[4] && port % 256 == address->fields[5],
                "the port does not format back to its numbers");

    std::string again = "227 Entering Passive Mode (";
    for (std::size_t i = 0; i < address->fields.size(); ++i)
        again += (i ? "," : "") + std::to_string(address->fields[i]);
    again += ").\r\n";
    const auto reparsed = parsePasvReply(again, error, field);
    fuzz::check(reparsed && reparsed->fields == address->fields, "the reply written again reads differently");
    return 0;
}
