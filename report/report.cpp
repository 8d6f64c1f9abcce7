#include "report/report.h"

#include <algorithm>

namespace velmo::report {

Band& Report::setBand(Band b) {
    auto same = std::find_if(m_bands.begin(), m_bands.end(), [&](const Band& x) { return x.kind == b.kind; });
    if (same != m_bands.end()) {
        *same = std::move(b);
        return *same;
    }
    m_bands.push_back(std::move(b));
    return m_bands.back();
}

const Band* Report::band(BandKind kind) const {
    for (const Band& b : m_bands) {
        if (b.kind == kind)
            return &b;
    }
    return nullptr;
}

Band* Report::band(BandKind kind) {
    return const_cast<Band*>(static_cast<const Report*>(this)->band(kind));
}

Element* Report::element(const std::string& name) {
    for (Band& b : m_bands) {
        for (Element& e : b.elements) {
            if (e.name == name)
                return &e;
        }
    }
    return nullptr;
}

std::vector<Page> Report::layout() const {
    const Band* title = band(BandKind::Title);
    const Band* header = band(BandKind::ColumnHeader);
    const Band* detail = band(BandKind::Detail);
    const Band* summary = band(BandKind::Summary);
    const Band* footer = band(BandKind::PageFooter);

    const double footerHeight = footer ? footer->height : 0.0;
    const double contentBottom = page.paperHeight - page.bottomMargin - footerHeight;
    // A hair of tolerance, so that bands whose heights add up to the page exactly still fit.
    constexpr double kSlack = 1e-6;

    std::vector<Page> pages;
    double y = 0.0;
    // Nothing but the page's opening bands yet: a band goes here even when it does not fit, since a
    // new page would not hold it either.
    bool fresh = true;
    auto place = [&](const Band* b, int record = -1) {
        pages.back().bands.push_back({b, y, record});
        y += b->height;
    };
    auto startPage = [&] {
        if (!pages.empty() && footer)
            pages.back().bands.push_back({footer, contentBottom, -1});
        pages.emplace_back();
        y = page.topMargin;
        fresh = true;
        if (pages.size() == 1 && title)
            place(title);
        if (header)
            place(header);
    };
    auto fits = [&](double height) { return y + height <= contentBottom + kSlack; };

    startPage();
    const int records = detail && data ? data->recordCount() : 0;
    for (int r = 0; r < records; ++r) {
        if (!fits(detail->height) && !fresh)
            startPage();
        place(detail, r);
        fresh = false;
    }
    if (summary) {
        const double room = summary->height + (detail ? detail->height : 0.0);
        if (!fits(room) && !fresh)
            startPage();
        place(summary);
    }
    if (footer)
        pages.back().bands.push_back({footer, contentBottom, -1});
    return pages;
}

} // namespace velmo::report
