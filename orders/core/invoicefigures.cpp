#include "orders/core/invoicefigures.h"

#include "datafiles/articlefile.h"
#include "datafiles/catalogindex.h"
#include "platform/cp1252.h"

#include <filesystem>

namespace velmo {

namespace {

bool exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

} // namespace

std::unordered_map<std::string, std::string>
loadArticleGroups(const std::function<std::string(const std::string& fileName)>& pathOf) {
    std::unordered_map<std::string, std::string> groups;
    const std::string indexPath = pathOf(datafiles::kCatalogIndexFile);
    if (!exists(indexPath))
        return groups;
    const std::optional<Lines> index = datafiles::loadCatalogIndex(indexPath);
    if (!index)
        return groups;
    for (const std::string& line : *index) {
        const datafiles::CatalogEntry entry = datafiles::splitCatalogLine(line);
        const std::string& fileName = datafiles::articleFileNameOf(entry);
        if (fileName.empty())
            continue;
        const std::string path = pathOf(cp1252::toUtf8(fileName));
        if (!exists(path))
            continue;
        for (const datafiles::ArticleValues& a : datafiles::loadArticleFile(path).articles) {
            groups.emplace(a[datafiles::articlefield::ArtikelNr],
                           cp1252::toUtf8(a[datafiles::articlefield::Warengruppe]));
        }
    }
    return groups;
}

InvoiceFigures invoiceFigures(const InvoiceSnapshot& invoice, const InvoiceSettings& settings,
                              const std::unordered_map<std::string, std::string>& articleGroups) {
    using namespace invoice;
    InvoiceFigures f;
    f.smallBusiness = settings.taxMode == InvoiceSettings::TaxMode::SmallBusiness;
    std::vector<TaxedAmount> taxed;
    for (std::size_t i = 0; i < invoice.positions.size(); ++i) {
        const std::string* amountText = invoice.positionField(i, "Preis");
        const std::string* quantity = invoice.positionField(i, "menge");
        const std::string* artikelNr = invoice.positionField(i, "ArtikelNr");
        const Cents amount = parseCents(*amountText);
        const auto group = articleGroups.find(*artikelNr);
        InvoiceFigures::Line& line = f.lines.emplace_back();
        line.amount = formatCents(amount);
        if (const std::optional<Cents> unit = unitPrice(amount, *quantity))
            line.unitPrice = formatCents(*unit);
        line.percent = settings.percentOf(group == articleGroups.end() ? std::string() : group->second);
        taxed.push_back({line.percent, amount});
        f.goods += amount;
    }
    const std::string* shipping = invoice.orderField("Versand");
    f.shipping = shipping && !shipping->empty() ? parseCents(*shipping) : 0;
    f.total = f.goods + f.shipping;
    const int shippingPercent = f.smallBusiness ? 0 : settings.standardPercent;
    f.rates = taxSummary(taxed, f.shipping, shippingPercent);
    return f;
}

} // namespace velmo
