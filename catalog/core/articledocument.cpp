#include "catalog/core/articledocument.h"

#include "datafiles/fieldcheck.h"
#include "memtable/memtable.h"

#include <span>
#include <string_view>
#include <vector>

namespace velmo {

namespace af = datafiles::articlefield;
using datafiles::kArticleFieldCount;
using datafiles::kArticleFields;

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

void ArticleDocument::save() {
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
    RecordId offender = kNoRecord;
    try {
        m_table.setIndexName("");
        m_table.SyncIndexes();
        const int count = m_table.RecordCount();
        std::vector<datafiles::ArticleValues> articles(static_cast<std::size_t>(count));
        std::vector<RecordId> ids;
        ids.reserve(articles.size());
        m_table.First();
        for (datafiles::ArticleValues& values : articles) {
            for (std::size_t f = 0; f < kArticleFieldCount; ++f)
                values[f] = m_table.field(static_cast<int>(f)).view();
            m_whole.restore(m_table.currentRecord(), values);
            ids.push_back(m_table.currentRecord());
            m_table.Next();
        }

        // The writer would refuse the same value; checked here to name the field as the edit window
        // does and to show the owner the article.
        for (std::size_t n = 0; n < articles.size(); ++n) {
            for (std::size_t f = 0; f < kArticleFieldCount; ++f) {
                const datafiles::FieldRule rule = datafiles::articleLineRule(f, articles[n][f]);
                if (rule == datafiles::FieldRule::Ok)
                    continue;
                offender = ids[n];
                throw datafiles::EFieldFormatError(
                    datafiles::fieldRuleMessage(rule, articleFieldLabel(f)) +
                    " Der Artikel ist in der Liste ausgewählt. Die Artikeldatei wurde nicht gespeichert.");
            }
        }

        // Converts the prices in `articles` as they are written.
        datafiles::saveArticleFile(m_path, m_header, articles);
        // What the file holds now is what the next save gives back.
        for (std::size_t n = 0; n < articles.size(); ++n)
            m_whole.keep(ids[n], articles[n]);

        for (std::size_t n = 0; n < articles.size(); ++n) {
            m_table.gotoRecord(ids[n]);
            Field& price = m_table.field(static_cast<int>(af::Preis));
            if (price.view() == articles[n][af::Preis])
                continue;
            m_table.Edit();
            price.setAsString(articles[n][af::Preis]);
            m_table.Post();
        }
    } catch (...) {
        restore(offender != kNoRecord ? offender : keepRecord);
        throw;
    }
    restore(keepRecord);
}

} // namespace velmo
