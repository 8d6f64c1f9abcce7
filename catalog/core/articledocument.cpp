#include "catalog/core/articledocument.h"

#include "datafiles/fieldcheck.h"
#include "memtable/memtable.h"
#include "platform/atomic_file.h"

#include <algorithm>

#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace velmo {

namespace af = datafiles::articlefield;
using datafiles::kArticleFieldCount;
using datafiles::kArticleFields;

namespace {

// How often a save tells its progress, in articles; how much it writes at a time, in bytes.
constexpr std::size_t kProgressStep = 4096;
constexpr std::size_t kWriteChunk = std::size_t{4} << 20;

} // namespace

const std::array<const char*, kArticleFieldCount> kArticleFieldCaptions = {
    "Artikel-Nr.:",  "Katalog-ID:",   "Hersteller:",  "Lieferant:",        "Warengruppe:",
    "Bezeichnung:",  "Preis :",       "Gewicht (g):", "Bestand:",          "Beschreibung:",
    "Angebot-Preis", "Bild (klein):", "Bild (groß):", "Hersteller - URL:",
};

std::string articleFieldLabel(std::size_t field) {
    std::string_view label = kArticleFieldCaptions[field];
    auto trim = [&label] {
        while (!label.empty() && label.back() == ' ')
            label.remove_suffix(1);
    };
    trim();
    if (!label.empty() && label.back() == ':')
        label.remove_suffix(1);
    trim();
    return std::string(label);
}

std::string ArticleDocument::indexName(int i) {
    return std::string(kArticleFields[static_cast<std::size_t>(i)].name);
}

ArticleDocument::ArticleDocument(MemTable& table) : m_table(table) {
    for (const auto& info : kArticleFields)
        m_table.addField(std::string(info.name), FieldType::String, info.maxLength);
    for (int i = 0; i < kIndexCount; ++i)
        m_table.addIndexDef({indexName(i), {indexName(i)}, 0});
}

void ArticleDocument::load(const std::string& path) {
    datafiles::ArticleFile file = datafiles::loadArticleFile(path);
    m_path = path;
    m_header = std::move(file.header);
    m_saved = true;
    // The views hear of the load once, when it is complete.
    MemTable::UpdateBlock batch(m_table);
    m_table.setActive(true);
    m_table.emptyTable();
    m_whole.clear();
    std::array<std::string_view, kArticleFieldCount> values;
    for (const datafiles::ArticleValues& article : file.articles) {
        for (std::size_t f = 0; f < kArticleFieldCount; ++f)
            values[f] = article[f];
        m_table.AppendValues(std::span<const std::string_view>(values));
        m_whole.keep(m_table.currentRecord(), article);
    }
    file.articles = {};
    m_table.setIndexName(indexName(0));
    m_table.SyncIndexes();
}

void ArticleDocument::unload() {
    // Nothing that belongs to another catalog may stay where a save could write it.
    m_path.clear();
    m_header.clear();
    if (m_table.Active())
        m_table.emptyTable();
    m_whole.clear();
    m_saved = true;
}

void ArticleDocument::deleteCurrent() {
    const RecordId gone = m_table.currentRecord();
    m_table.Delete();
    // Its number may come back for a new article, which must not inherit its values.
    m_whole.forget(gone);
    m_saved = false;
}

void ArticleDocument::save(const SaveProgress& progress) {
    if (!isLoaded() || !m_table.Active())
        return;
    const std::string keepIndex = m_table.IndexName();
    const RecordId keepRecord = m_table.currentRecord();
    MemTable::UpdateBlock batch(m_table);
    auto restore = [&](RecordId current) {
        m_table.setIndexName(keepIndex);
        m_table.SyncIndexes();
        m_table.gotoRecord(current);
    };
    // The values as the file gets them: the table's, or the whole value the table holds cut short.
    // Views into the table and into m_whole, valid until either changes.
    auto viewsOf = [this](RecordId id, datafiles::ArticleViews& views) {
        for (std::size_t f = 0; f < kArticleFieldCount; ++f)
            views[f] = m_table.viewAt(id, static_cast<int>(f));
        return m_whole.restore(id, views);
    };
    RecordId offender = kNoRecord;
    try {
        m_table.setIndexName("");
        m_table.SyncIndexes();
        std::vector<RecordId> ids;
        ids.reserve(static_cast<std::size_t>(m_table.RecordCount()));
        for (m_table.First(); !m_table.eof(); m_table.Next())
            ids.push_back(m_table.currentRecord());
        // Articles written; the file is written as they are formatted.
        auto report = [&](std::size_t done) {
            if (progress)
                progress(done, ids.size());
        };

        // The writer would refuse the same value; checked here, before anything is written, to name
        // the field as the edit window does and to show the owner the article.
        std::string bytes = datafiles::articleHeaderBytes(m_header);
        datafiles::ArticleViews views;
        for (const RecordId id : ids) {
            viewsOf(id, views);
            for (std::size_t f = 0; f < kArticleFieldCount; ++f) {
                const datafiles::FieldRule rule = datafiles::articleLineRule(f, views[f]);
                if (rule == datafiles::FieldRule::Ok)
                    continue;
                offender = id;
                throw datafiles::EFieldFormatError(
                    datafiles::fieldRuleMessage(rule, articleFieldLabel(f)) +
                    " Der Artikel ist in der Liste ausgewählt. Die Artikeldatei wurde nicht gespeichert.");
            }
        }

        // The lines go out in chunks through one buffer, the prices converted as they are written.
        std::vector<std::size_t> kept; // articles with whole values, by position in ids
        {
            AtomicFileWriter file(m_path);
            bytes.reserve(kWriteChunk + 4096);
            auto flush = [&] {
                file.write(bytes);
                bytes.clear();
            };
            for (std::size_t n = 0; n < ids.size(); ++n) {
                if (viewsOf(ids[n], views))
                    kept.push_back(n);
                datafiles::appendArticleLine(bytes, views);
                if (bytes.size() >= kWriteChunk)
                    flush();
                if (n % kProgressStep == 0)
                    report(n);
            }
            flush();
            file.commit();
            report(ids.size());
        }
        bytes = {};

        // What the file holds now is what the next save gives back.
        for (const std::size_t n : kept) {
            viewsOf(ids[n], views);
            datafiles::ArticleValues values;
            for (std::size_t f = 0; f < kArticleFieldCount; ++f)
                values[f] = views[f];
            values[af::Preis] = datafiles::priceForSave(values[af::Preis]);
            m_whole.keep(ids[n], values);
        }

        // The table shows the prices as the file holds them.
        std::vector<std::pair<RecordId, std::string>> prices;
        for (const RecordId id : ids) {
            viewsOf(id, views);
            const std::string_view shown = m_table.viewAt(id, static_cast<int>(af::Preis));
            if (shown == views[af::Preis] && shown.find(',') == std::string_view::npos)
                continue;
            std::string price = datafiles::priceForSave(views[af::Preis]);
            if (price != shown)
                prices.emplace_back(id, std::move(price));
        }
        // The first save of a catalog converts nearly every price: the sort orders are sorted
        // again afterwards instead of kept in step article by article.
        if (prices.size() > 64 + ids.size() / 8)
            m_table.dropOtherOrders();
        for (const auto& [id, price] : prices) {
            m_table.gotoRecord(id);
            m_table.Edit();
            m_table.field(static_cast<int>(af::Preis)).setAsString(price);
            m_table.Post();
        }
    } catch (...) {
        restore(offender != kNoRecord ? offender : keepRecord);
        throw;
    }
    restore(keepRecord);
}

} // namespace velmo
