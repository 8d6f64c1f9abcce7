// Order lines: cut fields joined again are the line; an order read, written and read again keeps every
// field; a position never has an empty article number when it counts; the quick view of a
// position line agrees with the general cut.
#include "datafiles/orderfiles.h"
#include "fuzz/fuzz.h"

namespace {

std::string join(const std::vector<std::string>& fields) {
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i)
        out += (i ? ";;" : "") + fields[i];
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmo;
    using namespace velmo::datafiles;
    const std::string_view line = fuzz::bytes(data, size);
    for (std::size_t k : {kPositionCuts, kOrderCuts}) {
        if (const auto fields = cutFields(line, k)) {
            fuzz::check(fields->size() == k + 1, "wrong number of fields");
            fuzz::check(join(*fields) == line, "cut fields do not join back to the line");
        }
    }
    // The quick view of a position line finds the fields the general cut finds.
    PositionView view;
    const auto cut = cutFields(line, kPositionCuts);
    fuzz::check(viewPositionLine(line, view) == cut.has_value(), "the position view and the cut disagree");
    if (cut) {
        const std::string_view got[] = {view.BestellNr, view.menge, view.ArtikelNr, view.Bezeichnung,
                                        view.Preis};
        const std::size_t from[] = {0, 2, 3, 4, 5};
        for (std::size_t i = 0; i < 5; ++i)
            fuzz::check(got[i] == (*cut)[from[i]], "a field of the position view differs from the cut");
    }
    try {
        if (const std::optional<OrderRecord> order = parseOrderLine(line)) {
            const std::optional<OrderRecord> again = parseOrderLine(orderLine(*order));
            fuzz::check(again.has_value(), "a written order line is short");
            fuzz::check(again->Datum == order->Datum, "date changed in a round trip");
            const auto a = textFields(*order);
            const auto b = textFields(*again);
            for (std::size_t i = 0; i < a.size(); ++i) {
                // Versand is read with the decimal-point rule; a second reading may turn a second point.
                if (a[i] != &order->Versand)
                    fuzz::check(*a[i] == *b[i], "a text field changed in a round trip");
            }
        }
    } catch (const EConvertError&) {
        // A date the German rules reject: reported, not a fault.
    }
    if (const std::optional<Position> p = parsePositionLine(line))
        fuzz::check(p->Preis.find('.') == std::string::npos || p->Preis.find(',') != std::string::npos,
                    "the first point of a price was not turned into a comma");
    return 0;
}
