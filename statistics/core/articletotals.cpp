#include "statistics/core/articletotals.h"

#include "datafiles/orderfiles.h"
#include "memtable/collation.h"
#include "memtable/values.h"
#include "platform/german.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace velmo::statistics {

namespace {

// The text field sizes of AllPositions, whose cuts the totals see.
constexpr int kOrderSize = 20;
constexpr int kNumberSize = 20;
constexpr int kTextSize = 100;
constexpr int kAmountSize = 20;

} // namespace

void defineAllPositions(MemTable& table) {
    table.addField(kBestellNr, FieldType::String, kOrderSize);
    table.addField(kMenge, FieldType::Float);
    table.addField(kArtikelNr, FieldType::String, kNumberSize);
    table.addField(kBezeichnung, FieldType::String, kTextSize);
    table.addField(kPreis, FieldType::String, kAmountSize);
    table.addIndexDef({kArtikelNr, {kArtikelNr}});
    table.setActive(true);
}

void defineArticleTotals(MemTable& table, const std::string& chartKey) {
    table.addField(kBestellNr, FieldType::String, 20);
    table.addField(kMenge, FieldType::Float);
    table.addField(kArtikelNr, FieldType::String, 20);
    table.addField(kBezeichnung, FieldType::String, 20);
    table.addField(kPreis, FieldType::Currency);
    table.addField(kGanzeBezeichnung, FieldType::String, 100);
    table.addIndexDef({kArtikelNr, {kArtikelNr}});
    table.addIndexDef({chartKey, {chartKey}});
    table.setActive(true);
}

namespace {

// Open addressing over the hashes of texts numbered 0, 1, 2, ...: a table at most half full finds
// a text in one or two probes of one array, where a node-based map follows a pointer and divides by
// a prime for each of a million lines. Which number holds which text is the owner's.
class NumberSlots {
public:
    NumberSlots() : m_slots(1024) {}

    // The number whose text is the one looked for (same(id) says), or none.
    template <class Same> std::optional<std::uint32_t> find(std::size_t hash, Same same) const {
        for (std::size_t i = hash & (m_slots.size() - 1);; i = (i + 1) & (m_slots.size() - 1)) {
            const Slot& slot = m_slots[i];
            if (slot.id == kEmpty)
                return std::nullopt;
            if (slot.hash == hash && same(slot.id))
                return slot.id;
        }
    }
    // Files number id (not found before) under hash; count is how many numbers there are now.
    void add(std::size_t hash, std::uint32_t id, std::size_t count) {
        std::size_t i = hash & (m_slots.size() - 1);
        while (m_slots[i].id != kEmpty)
            i = (i + 1) & (m_slots.size() - 1);
        m_slots[i] = {hash, id};
        if (count * 2 > m_slots.size())
            grow();
    }

private:
    static constexpr std::uint32_t kEmpty = ~std::uint32_t{0};
    struct Slot {
        std::size_t hash = 0;
        std::uint32_t id = kEmpty;
    };

    void grow() {
        std::vector<Slot> old(m_slots.size() * 2);
        old.swap(m_slots);
        for (const Slot& slot : old) {
            if (slot.id == kEmpty)
                continue;
            std::size_t i = slot.hash & (m_slots.size() - 1);
            while (m_slots[i].id != kEmpty)
                i = (i + 1) & (m_slots.size() - 1);
            m_slots[i] = slot;
        }
    }

    std::vector<Slot> m_slots; // a power of two of them
};

// The article numbers of a file, each numbered on first sight.
class ArticleNumbers {
public:
    // The number of nr, and whether it was seen for the first time.
    std::pair<std::uint32_t, bool> insert(std::string_view nr) {
        const std::size_t hash = std::hash<std::string_view>{}(nr);
        if (const auto id = m_slots.find(hash, [&](std::uint32_t i) { return m_numbers[i] == nr; }))
            return {*id, false};
        const auto id = static_cast<std::uint32_t>(m_numbers.size());
        m_numbers.push_back(nr);
        m_slots.add(hash, id, m_numbers.size());
        return {id, true};
    }
    const std::vector<std::string_view>& numbers() const { return m_numbers; }

private:
    NumberSlots m_slots;
    std::vector<std::string_view> m_numbers;
};

// Lines sorted by a rank (an article's place in the index order), stably, so in the order they
// were added within a rank. Gathering each rank's lines straight from the whole file would touch a
// new memory page for nearly every line. Instead the lines are copied into buckets of neighbouring
// ranks, a few hundred sequential streams, and each bucket, small enough for the cache, is then
// sorted on its own.
class RankedLines {
public:
    // bytesOfRank: what the lines of each rank take, kLineHead and the line's bytes for each line.
    explicit RankedLines(const std::vector<std::size_t>& bytesOfRank) : m_bucketOf(bytesOfRank.size()) {
        std::size_t all = 0;
        for (std::size_t bytes : bytesOfRank)
            all += bytes;
        // A bucket takes ranks until it holds about kBucketBytes, or more in a file so large that
        // there would be more than kMaxBuckets; a rank with more is a bucket of its own.
        const std::size_t budget = std::max(kBucketBytes, all / kMaxBuckets);
        std::size_t filled = 0;
        for (std::uint32_t r = 0; r < bytesOfRank.size(); ++r) {
            if (filled > 0 && filled + bytesOfRank[r] > budget) {
                m_firstRank.push_back(r);
                m_start.push_back(m_start.back() + filled);
                filled = 0;
            }
            m_bucketOf[r] = static_cast<std::uint32_t>(m_firstRank.size() - 1);
            filled += bytesOfRank[r];
        }
        m_firstRank.push_back(static_cast<std::uint32_t>(bytesOfRank.size()));
        m_start.push_back(m_start.back() + filled);
        m_bytes.reset(new char[std::max<std::size_t>(all, 1)]);
        m_writeAt.assign(m_start.begin(), m_start.end() - 1);
    }

    static constexpr std::size_t kLineHead = sizeof(std::uint32_t) + sizeof(std::uint64_t);

    void add(std::uint32_t rank, std::string_view line) {
        const std::uint64_t length = line.size();
        char* out = m_bytes.get() + m_writeAt[m_bucketOf[rank]];
        std::memcpy(out, &rank, sizeof rank);
        std::memcpy(out + sizeof rank, &length, sizeof length);
        std::memcpy(out + kLineHead, line.data(), line.size());
        m_writeAt[m_bucketOf[rank]] += kLineHead + line.size();
    }

    // Every line in rank order.
    template <class F> void forEach(F&& take) const {
        std::vector<std::string_view> sorted;
        std::vector<std::size_t> countOf;
        for (std::size_t b = 0; b + 1 < m_firstRank.size(); ++b) {
            const std::uint32_t lowest = m_firstRank[b];
            const std::size_t ranks = m_firstRank[b + 1] - lowest;
            countOf.assign(ranks + 1, 0);
            forEachInBucket(b, [&](std::uint32_t rank, std::string_view) { ++countOf[rank - lowest + 1]; });
            for (std::size_t r = 1; r <= ranks; ++r)
                countOf[r] += countOf[r - 1];
            sorted.resize(countOf[ranks]);
            forEachInBucket(b, [&](std::uint32_t rank, std::string_view line) {
                sorted[countOf[rank - lowest]++] = line;
            });
            for (std::string_view line : sorted)
                take(line);
        }
    }

private:
    // A line is staged as its rank (32 bits) and its length (64 bits), then its bytes.
    template <class F> void forEachInBucket(std::size_t b, F&& f) const {
        const char* const last = m_bytes.get() + m_start[b + 1];
        for (const char* in = m_bytes.get() + m_start[b]; in < last;) {
            std::uint32_t rank;
            std::uint64_t length;
            std::memcpy(&rank, in, sizeof rank);
            std::memcpy(&length, in + sizeof rank, sizeof length);
            f(rank, std::string_view(in + kLineHead, length));
            in += kLineHead + length;
        }
    }

    static constexpr std::size_t kBucketBytes = std::size_t{128} * 1024;
    static constexpr std::size_t kMaxBuckets = 1024;

    std::vector<std::uint32_t> m_bucketOf;     // of each rank
    std::vector<std::uint32_t> m_firstRank{0}; // of each bucket, and of none after the last
    std::vector<std::size_t> m_start{0};       // where each bucket's lines start, and where they end
    std::vector<std::size_t> m_writeAt;        // where each bucket's next line goes
    std::unique_ptr<char[]> m_bytes;
};

void appendPosition(MemTable& table, const datafiles::PositionView& p, std::string& preis) {
    preis.assign(p.Preis);
    if (const std::size_t dot = preis.find('.'); dot != std::string::npos)
        preis[dot] = ',';
    table.AppendValues({p.BestellNr, p.menge, p.ArtikelNr, p.Bezeichnung, preis});
}

} // namespace

void loadAllPositions(MemTable& allPositions, std::string fileBytes) {
    allPositions.emptyTable();
    std::vector<std::string_view> lines = splitLineViews(fileBytes);
    const auto numberSize = static_cast<std::size_t>(allPositions.fieldByName(kArtikelNr).size());

    // The positions go into the table grouped by article number, in the order of the ArtikelNr
    // index, and in file order within an article. Their records then lie in index order in memory,
    // which the index build and the walk of the totals read several times faster than records
    // scattered over the whole table. The table holds what a load in file order gives, and its
    // index walks it in the same order (among equal numbers the later line first).
    //
    // First pass: cut the lines, number the articles as the table will store their numbers, and
    // count the bytes of each article's lines.
    ArticleNumbers articleOf;
    std::vector<std::size_t> bytesOf;
    constexpr auto kNone = ~std::uint32_t{0};
    std::vector<std::uint32_t> articleOfLine(lines.size(), kNone);
    std::optional<std::size_t> badQuantity;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        datafiles::PositionView p;
        if (datafiles::isBlankLine(lines[i]))
            continue;
        if (!datafiles::viewPositionLine(lines[i], p))
            datafiles::throwShortLine(datafiles::kPositionFile, i + 1, datafiles::kPositionCuts);
        if (p.ArtikelNr.empty())
            continue;
        // Reading stops at a quantity the table refuses; that line goes in last and raises the error.
        double quantity;
        if (!p.menge.empty() && !german::tryStrToFloat(p.menge, quantity)) {
            badQuantity = i;
            break;
        }
        const std::string_view nr = p.ArtikelNr.substr(0, std::min(p.ArtikelNr.find('\0'), numberSize));
        const auto [article, added] = articleOf.insert(nr);
        if (added)
            bytesOf.push_back(0);
        articleOfLine[i] = article;
        bytesOf[article] += RankedLines::kLineHead + lines[i].size();
    }
    const std::vector<std::string_view>& numbers = articleOf.numbers();

    // Each article's rank in the index order.
    std::vector<std::uint32_t> byNumber(numbers.size());
    for (std::uint32_t a = 0; a < byNumber.size(); ++a)
        byNumber[a] = a;
    std::stable_sort(byNumber.begin(), byNumber.end(), [&](std::uint32_t a, std::uint32_t b) {
        return collation::compare(numbers[a], numbers[b], false) < 0;
    });
    std::vector<std::uint32_t> rankOf(numbers.size());
    std::vector<std::size_t> bytesOfRank(numbers.size());
    for (std::uint32_t r = 0; r < byNumber.size(); ++r) {
        rankOf[byNumber[r]] = r;
        bytesOfRank[r] = bytesOf[byNumber[r]];
    }

    // Second pass: the lines sorted by rank.
    RankedLines ranked(bytesOfRank);
    for (std::size_t i = 0; i < badQuantity.value_or(lines.size()); ++i) {
        if (articleOfLine[i] != kNone)
            ranked.add(rankOf[articleOfLine[i]], lines[i]);
    }
    const std::string badLine = badQuantity ? std::string(lines[*badQuantity]) : std::string();
    articleOfLine = {};
    lines = {};
    fileBytes = {};

    // Third pass: the records, in rank order.
    std::string preis;
    ranked.forEach([&](std::string_view line) {
        datafiles::PositionView p;
        datafiles::viewPositionLine(line, p);
        appendPosition(allPositions, p, preis);
    });
    if (badQuantity) {
        datafiles::PositionView p;
        datafiles::viewPositionLine(badLine, p);
        appendPosition(allPositions, p, preis); // throws
    }
    allPositions.setIndexName(kArtikelNr);
    allPositions.SyncIndexes();
    allPositions.First();
}

namespace {

// The fields of ArticleTotals, and one article's record written into them.
struct TotalFields {
    explicit TotalFields(MemTable& totals)
        : nr(totals.fieldByName(kArtikelNr)), bestellNr(totals.fieldByName(kBestellNr)),
          bezeichnung(totals.fieldByName(kBezeichnung)),
          ganzeBezeichnung(totals.fieldByName(kGanzeBezeichnung)), menge(totals.fieldByName(kMenge)),
          preis(totals.fieldByName(kPreis)) {}

    void set(std::string_view number, std::string_view order, std::string_view text, double quantity,
             german::Currency amount) {
        nr.setAsString(number);
        bestellNr.setAsString(order);
        bezeichnung.setAsString(text);
        ganzeBezeichnung.setAsString(text);
        menge.setAsFloat(quantity);
        preis.setAsCurrency(amount);
    }

    Field& nr;
    Field& bestellNr;
    Field& bezeichnung;
    Field& ganzeBezeichnung;
    Field& menge;
    Field& preis;
};

void startTotals(MemTable& totals) {
    totals.emptyTable();
    totals.setIndexName(kArtikelNr);
    totals.SyncIndexes();
}

} // namespace

void computeArticleTotals(MemTable& allPositions, MemTable& totals, const Progress& progress,
                          std::size_t progressStep) {
    startTotals(totals);
    // Bound views hear of the new totals once, at the end (or when an amount stops the work).
    MemTable::UpdateBlock batch(totals);

    const Field& posNr = allPositions.fieldByName(kArtikelNr);
    const Field& posMenge = allPositions.fieldByName(kMenge);
    const Field& posPreis = allPositions.fieldByName(kPreis);
    const int posBestellNr = allPositions.fieldByName(kBestellNr).index();
    const int posBezeichnung = allPositions.fieldByName(kBezeichnung).index();
    TotalFields fields(totals);

    // The positions come in article-number order, so each article is one run and becomes one
    // record when its run ends. The collation may still call two different numbers equal (a soft
    // hyphen, a control byte) and interleave their runs; the second run of a number then adds to the
    // record of its first instead of making another.
    std::unordered_map<std::string, RecordId> recordOf;
    struct Run {
        std::string nr;
        RecordId last = kNoRecord; // the run's latest position
        double menge = 0;
        german::Currency preis;
    } run;
    auto finishRun = [&] {
        if (run.last == kNoRecord)
            return;
        const auto known = recordOf.find(run.nr);
        if (known == recordOf.end()) {
            totals.Insert();
        } else {
            totals.gotoRecord(known->second);
            run.menge = fields.menge.asFloat() + run.menge;
            run.preis.scaled += fields.preis.asCurrency().scaled;
            totals.Edit();
        }
        fields.set(run.nr, allPositions.viewAt(run.last, posBestellNr),
                   allPositions.viewAt(run.last, posBezeichnung), run.menge, run.preis);
        totals.Post();
        recordOf.emplace(run.nr, totals.currentRecord());
    };

    progressStep = std::max<std::size_t>(progressStep, 1);
    std::size_t done = 0;
    for (allPositions.First(); !allPositions.eof(); allPositions.Next()) {
        const std::string_view positionNr = posNr.view();
        if (run.last == kNoRecord || positionNr != run.nr) {
            finishRun();
            run = Run();
            run.nr = positionNr;
        }
        // The amount first: a bad one ends the work before this position counts anywhere.
        run.preis.scaled += posPreis.asCurrency().scaled;
        run.menge += posMenge.asFloat();
        run.last = allPositions.currentRecord();
        ++done;
        if (progress && done % progressStep == 0)
            progress(done);
    }
    finishRun();
    if (progress)
        progress(done);
}

// What one article number's positions add up to.
struct ArticleSums::Article {
    std::string nr;
    // Of the article's first line, which is the last of its run in the index walk.
    std::string bestellNr, bezeichnung;
    double menge = 0; // in file order; the walk's order where that rounds differently
    german::Currency preis;
    // Every quantity so far a whole number, and all of them together small enough that any order
    // of adding them up gives the same sum.
    bool mengeExact = true;
    double mengeMagnitude = 0;
    // Where the sum may round: the quantities in file order, from a second reading of the file.
    std::vector<double> quantities;
    // The amount of the article's last line that is not a number: the first the walk meets.
    std::optional<std::string> badAmount;
    // The latest amount text read, with its value: an article is mostly sold at one price, and a
    // text compared is cheaper than a text converted.
    std::string lastPreisText;
    german::Currency lastPreis;
};

// The articles by number, each numbered on first sight.
class ArticleSums::Numbers {
public:
    // The article of nr, or nullptr.
    Article* find(std::string_view nr, std::size_t hash) {
        const auto id = m_slots.find(hash, [&](std::uint32_t i) { return articles[i].nr == nr; });
        return id ? &articles[*id] : nullptr;
    }
    Article& add(std::string_view nr, std::size_t hash) {
        m_slots.add(hash, static_cast<std::uint32_t>(articles.size()), articles.size() + 1);
        articles.emplace_back().nr = nr;
        return articles.back();
    }

    std::vector<Article> articles; // in the order of first sight

private:
    NumberSlots m_slots;
};

ArticleSums::ArticleSums() : m_numbers(std::make_unique<Numbers>()) {}
ArticleSums::~ArticleSums() = default;

std::size_t ArticleSums::articles() const {
    return m_numbers->articles.size();
}

namespace {

// FNV-1a over an article number's few bytes: cheaper than the library's hash for keys this short.
std::size_t hashOf(std::string_view nr) {
    std::uint64_t h = 14695981039346656037ULL;
    for (const char c : nr) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ULL;
    }
    return static_cast<std::size_t>(h ^ (h >> 32));
}

// Every whole number below it is a double, so sums of whole numbers that stay below it are exact in
// any order.
constexpr double kExactWholes = 9007199254740992.0; // 2^53

} // namespace

std::optional<double> ArticleSums::quantityOf(std::string_view text) {
    // Most quantities are a single digit: each such text is converted once.
    if (text.size() == 1) {
        std::optional<double>& known = m_oneByteQuantities[static_cast<unsigned char>(text[0])];
        if (!known) {
            double v = 0;
            if (german::tryStrToFloat(text, v))
                known = v;
        }
        return known;
    }
    double v = 0;
    if (german::tryStrToFloat(text, v))
        return v;
    return std::nullopt;
}

void ArticleSums::addLines(std::string_view block) {
    forEachLine(block, [&](std::string_view line) {
        ++m_lines;
        if (datafiles::isBlankLine(line))
            return;
        datafiles::PositionView p;
        if (!datafiles::viewPositionLine(line, p))
            datafiles::throwShortLine(datafiles::kPositionFile, m_lines, datafiles::kPositionCuts);
        if (p.ArtikelNr.empty())
            return;
        // The quantity first: reading stops at one the table refuses, with the table's message.
        std::optional<double> quantity;
        if (!p.menge.empty()) {
            quantity = quantityOf(p.menge);
            if (!quantity) {
                std::string bytes;
                detail::parseForField(FieldDef{kMenge, FieldType::Float}, p.menge, bytes); // throws
            }
        }
        const std::string_view nr = detail::cutString(p.ArtikelNr, kNumberSize);
        const std::size_t hash = hashOf(nr);
        Article* a = m_numbers->find(nr, hash);

        if (a == nullptr) {
            a = &m_numbers->add(nr, hash);
            a->bestellNr = detail::cutString(p.BestellNr, kOrderSize);
            a->bezeichnung = detail::cutString(p.Bezeichnung, kTextSize);
        }
        ++m_positions;
        if (quantity) {
            const double v = *quantity;
            a->menge += v;
            a->mengeMagnitude += std::fabs(v);
            if (a->mengeExact && (v != std::trunc(v) || a->mengeMagnitude >= kExactWholes)) {
                a->mengeExact = false;
                ++m_inexact;
            }
        }

        // The amount as the table holds it: cut to the field's size, the first "." made a ",".
        char amount[kAmountSize];
        const std::string_view cut = detail::cutString(p.Preis, kAmountSize);
        std::memcpy(amount, cut.data(), cut.size());
        const std::string_view text(amount, cut.size());
        if (void* dot = std::memchr(amount, '.', cut.size()))
            *static_cast<char*>(dot) = ',';
        // An empty text is never an amount, so it is never the one remembered.
        if (!a->lastPreisText.empty() && a->lastPreisText == text) {
            a->preis.scaled += a->lastPreis.scaled;
            return;
        }
        double check = 0;
        std::optional<german::Currency> value;
        if (german::tryStrToFloat(text, check)) {
            try {
                value = german::strToCurr(text);
            } catch (const EConvertError&) {
            }
        }
        if (!value) {
            a->badAmount = std::string(text);
            return;
        }
        a->lastPreisText = text;
        a->lastPreis = *value;
        a->preis.scaled += value->scaled;
    });
}

void ArticleSums::addQuantitiesAgain(std::string_view block) {
    forEachLine(block, [&](std::string_view line) {
        datafiles::PositionView p;
        if (datafiles::isBlankLine(line) || !datafiles::viewPositionLine(line, p) || p.ArtikelNr.empty() ||
            p.menge.empty())
            return;
        const std::string_view nr = detail::cutString(p.ArtikelNr, kNumberSize);
        Article* a = m_numbers->find(nr, hashOf(nr));
        const std::optional<double> quantity = quantityOf(p.menge);
        if (a != nullptr && !a->mengeExact && quantity)
            a->quantities.push_back(*quantity);
    });
}

void ArticleSums::post(MemTable& totals) const {
    const std::vector<Article>& articles = m_numbers->articles;

    // The index walk: article numbers in collation order; numbers the collation calls equal are
    // one run of keys, in which the later-loaded positions come first, so the article seen last
    // in the file comes first. Sort keys compare in the collation's order with memcmp.
    std::vector<std::string> keys(articles.size());
    std::vector<std::uint32_t> order(articles.size());
    for (std::uint32_t a = 0; a < order.size(); ++a) {
        collation::appendSortKey(keys[a], articles[a].nr, false);
        order[a] = a;
    }
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        const int c = keys[a].compare(keys[b]);
        return c != 0 ? c < 0 : a > b;
    });

    startTotals(totals);
    MemTable::UpdateBlock batch(totals);
    TotalFields fields(totals);
    for (const std::uint32_t id : order) {
        const Article& a = articles[id];
        if (a.badAmount) {
            // The conversion that refused the text while it was read throws the table's message.
            detail::textAsCurrency(*a.badAmount);
            throw EConvertError(*a.badAmount);
        }
        totals.Insert();
        double menge = a.menge;
        if (!a.mengeExact) {
            // Added up as the walk meets them, the last line first.
            menge = 0;
            for (auto q = a.quantities.rbegin(); q != a.quantities.rend(); ++q)
                menge += *q;
        }
        fields.set(a.nr, a.bestellNr, a.bezeichnung, menge, a.preis);
        totals.Post();
    }
}

PositionFileSums::PositionFileSums(const std::string& path, std::size_t blockBytes)
    : m_path(path), m_blockBytes(blockBytes) {
    if (!pathExists(path))
        writeFileBytes(path, {});
    m_reader = std::make_unique<LineBlockReader>(path, blockBytes);
}

PositionFileSums::~PositionFileSums() = default;

bool PositionFileSums::step() {
    std::string_view block;
    if (m_reader->next(block)) {
        if (m_secondPass)
            m_sums.addQuantitiesAgain(block);
        else
            m_sums.addLines(block);
        return true;
    }
    if (m_secondPass || !m_sums.needsQuantitiesAgain())
        return false;
    m_secondPass = true;
    m_reader = std::make_unique<LineBlockReader>(m_path, m_blockBytes);
    return true;
}

double PositionFileSums::fractionDone() const {
    const auto size = static_cast<double>(m_reader->fileSize());
    const double pass = size <= 0 ? 1.0 : std::min(1.0, static_cast<double>(m_reader->bytesDone()) / size);
    if (!m_sums.needsQuantitiesAgain())
        return pass;
    return m_secondPass ? 0.5 + pass / 2 : pass / 2;
}

std::int64_t chartScrollHeight(std::int64_t n) {
    const std::int64_t whole = n * 355 / 8;
    const std::int64_t eighths = n * 355 % 8;
    if (eighths > 4 || (eighths == 4 && whole % 2 != 0))
        return whole + 1;
    return whole;
}

} // namespace velmo::statistics
