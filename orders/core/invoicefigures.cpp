#include "orders/core/invoicefigures.h"

#include "datafiles/articlefile.h"
#include "datafiles/catalogindex.h"
#include "platform/cp1252.h"

#include <algorithm>
#include <filesystem>
#include <set>

namespace velmo {

namespace {

bool exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

// Splits every rate's net over its lines and its shipping share. A rate whose lines cancel out has
// no sum of its own (taxSummary leaves it out); its lines' nets then add up to 0.
void splitNets(InvoiceFigures& f) {
    using invoice::Cents;
    std::set<int> percents;
    for (const InvoiceFigures::Line& line : f.lines)
        percents.insert(line.percent);
    for (const invoice::RateSum& rate : f.rates)
        percents.insert(rate.percent);
    for (auto p = percents.rbegin(); p != percents.rend(); ++p) {
        const int percent = *p;
        const auto rate = std::find_if(f.rates.begin(), f.rates.end(),
                                       [&](const invoice::RateSum& r) { return r.percent == percent; });
        std::vector<std::size_t> at;
        std::vector<Cents> gross;
        Cents lineSum = 0;
        for (std::size_t i = 0; i < f.lines.size(); ++i) {
            if (f.lines[i].percent != percent)
                continue;
            at.push_back(i);
            gross.push_back(f.lines[i].gross);
            lineSum += f.lines[i].gross;
        }
        const Cents share = rate == f.rates.end() ? 0 : rate->gross - lineSum;
        if (share != 0)
            gross.push_back(share);
        const std::vector<Cents> nets =
            invoice::distributeNet(gross, percent, rate == f.rates.end() ? 0 : rate->net);
        for (std::size_t k = 0; k < at.size(); ++k)
            f.lines[at[k]].net = nets[k];
        if (share != 0)
            f.shippingShares.push_back({percent, share, nets.back()});
    }
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
        line.gross = amount;
        taxed.push_back({line.percent, amount});
        f.goods += amount;
    }
    const std::string* shipping = invoice.orderField("Versand");
    f.shipping = shipping && !shipping->empty() ? parseCents(*shipping) : 0;
    f.total = f.goods + f.shipping;
    const int shippingPercent = f.smallBusiness ? 0 : settings.standardPercent;
    f.rates = taxSummary(taxed, f.shipping, shippingPercent);
    for (const RateSum& rate : f.rates) {
        f.net += rate.net;
        f.tax += rate.tax;
    }
    splitNets(f);
    return f;
}

} // namespace velmo
