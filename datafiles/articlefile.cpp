#include "datafiles/articlefile.h"

#include <sys/stat.h>

namespace velmo::datafiles {

namespace {

constexpr std::string_view kSeparator = ";;";

void checkWritable(const ArticleValues& values) {
    for (std::size_t i = 0; i < kArticleFieldCount; ++i) {
        const FieldRule rule = articleLineRule(i, values[i]);
        if (rule != FieldRule::Ok)
            throw EFieldFormatError(fieldRuleMessage(rule, kArticleFields[i].header));
    }
}

} // namespace

FieldRule articleLineRule(std::size_t field, std::string_view value) {
    const FieldRule rule = checkArticleField(field, value);
    if (field + 1 == kArticleFieldCount && rule == FieldRule::DoubleSemicolon)
        return FieldRule::Ok;
    return rule;
}

std::string articleHeaderLine() {
    std::string line;
    for (std::size_t i = 0; i < kArticleFieldCount; ++i) {
        if (i > 0)
            line += kSeparator;
        line += kArticleFields[i].header;
    }
    return line;
}

ArticleValues splitArticleLine(std::string_view line) {
    ArticleValues values;
    std::string_view rest = line;
    for (std::size_t i = 0; i + 1 < kArticleFieldCount; ++i) {
        const auto pos = rest.find(kSeparator);
        if (pos == std::string_view::npos) {
            values[i] = rest;
            return values;
        }
        values[i] = rest.substr(0, pos);
        rest.remove_prefix(pos + kSeparator.size());
    }
    values[kArticleFieldCount - 1] = rest;
    return values;
}

std::string joinArticleLine(const ArticleValues& values) {
    std::size_t size = (kArticleFieldCount - 1) * kSeparator.size();
    for (const auto& v : values)
        size += v.size();
    std::string line;
    line.reserve(size);
    for (std::size_t i = 0; i < kArticleFieldCount; ++i) {
        if (i > 0)
            line += kSeparator;
        line += values[i];
    }
    return line;
}

std::string priceForSave(std::string_view price) {
    std::string out(price);
    const auto comma = out.find(',');
    if (comma != std::string::npos)
        out[comma] = '.';
    return out;
}

ArticleFile parseArticleFile(const Lines& lines) {
    ArticleFile file;
    if (lines.empty()) {
        file.header = articleHeaderLine();
        return file;
    }
    file.header = lines.front();
    file.articles.reserve(lines.size() - 1);
    for (std::size_t i = 1; i < lines.size(); ++i)
        file.articles.push_back(splitArticleLine(lines[i]));
    return file;
}

ArticleFile loadArticleFile(const std::string& path) {
    // Only when nothing is there: something we cannot read must be reported, not replaced.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        writeLines(path, {articleHeaderLine()});
    return parseArticleFile(readLines(path));
}

Lines articleFileLines(std::string_view header, std::vector<ArticleValues>& articles) {
    if (header.find_first_of("\r\n") != std::string_view::npos)
        throw EFieldFormatError(fieldRuleMessage(FieldRule::LineBreak, "Kopfzeile"));
    // Check everything first, so that a refused save leaves the articles as they were. The price
    // rule cannot make or mend a broken value, so the values are checked as they stand.
    for (const auto& values : articles)
        checkWritable(values);
    Lines lines;
    lines.reserve(articles.size() + 1);
    lines.emplace_back(header);
    for (auto& values : articles) {
        values[articlefield::Preis] = priceForSave(values[articlefield::Preis]);
        lines.push_back(joinArticleLine(values));
    }
    return lines;
}

std::string articleHeaderBytes(std::string_view header) {
    if (header.find_first_of("\r\n") != std::string_view::npos)
        throw EFieldFormatError(fieldRuleMessage(FieldRule::LineBreak, "Kopfzeile"));
    std::string out;
    out.reserve(header.size() + 2);
    out.append(header).append("\r\n");
    return out;
}

void appendArticleLine(std::string& out, const ArticleViews& values) {
    for (std::size_t i = 0; i < kArticleFieldCount; ++i) {
        if (i > 0)
            out.append(kSeparator);
        const std::string_view v = values[i];
        const std::size_t comma = i == articlefield::Preis ? v.find(',') : std::string_view::npos;
        if (comma == std::string_view::npos) {
            out.append(v);
        } else {
            out.append(v.substr(0, comma)).push_back('.');
            out.append(v.substr(comma + 1));
        }
    }
    out.append("\r\n");
}

void saveArticleFile(const std::string& path, std::string_view header, std::vector<ArticleValues>& articles) {
    writeLines(path, articleFileLines(header, articles));
}

std::string_view tableForm(std::string_view value, int maxLength) {
    value = value.substr(0, value.find('\0'));
    return value.substr(0, static_cast<std::size_t>(maxLength));
}

void WholeValues::keep(Key article, const ArticleValues& values) {
    std::vector<Kept> kept;
    for (std::size_t f = 0; f < kArticleFieldCount; ++f) {
        if (tableForm(values[f], kArticleFields[f].maxLength).size() != values[f].size())
            kept.push_back({f, values[f]});
    }
    if (kept.empty())
        m_kept.erase(article);
    else
        m_kept[article] = std::move(kept);
}

void WholeValues::forget(Key article) {
    m_kept.erase(article);
}

void WholeValues::restore(Key article, ArticleValues& values) const {
    const auto found = m_kept.find(article);
    if (found == m_kept.end())
        return;
    for (const Kept& k : found->second) {
        if (values[k.field] == tableForm(k.value, kArticleFields[k.field].maxLength))
            values[k.field] = k.value;
    }
}

bool WholeValues::restore(Key article, ArticleViews& values) const {
    const auto found = m_kept.find(article);
    if (found == m_kept.end())
        return false;
    for (const Kept& k : found->second) {
        if (values[k.field] == tableForm(k.value, kArticleFields[k.field].maxLength))
            values[k.field] = k.value;
    }
    return true;
}

} // namespace velmo::datafiles
