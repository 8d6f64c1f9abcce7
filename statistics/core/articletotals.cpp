#include "statistics/core/articletotals.h"

#include "datafiles/orderfiles.h"
#include "memtable/collation.h"
#include "platform/german.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace velmo::statistics {

void defineAllPositions(MemTable& table) {
    table.addField(kBestellNr, FieldType::String, 20);
    table.addField(kMenge, FieldType::Float);
    table.addField(kArtikelNr, FieldType::String, 20);
    table.addField(kBezeichnung, FieldType::String, 100);
    table.addField(kPreis, FieldType::String, 20);
    table.addIndexDef({kArtikelNr, {kArtikelNr}});
    table.setActive(true);
}

void defineArticleTotals(MemTable& table, const std::string& chartKey) {
    table.addField(kBestellNr, FieldType::String, 20);
    table.addField(kMenge, FieldType::Float);
    table.addField(kArtikelNr, FieldType::String, 20);
    table.addField(kBezeichnung, FieldType::String, 20);
    table.addField(kPreis, FieldType::Currency);
    table.addIndexDef({kArtikelNr, {kArtikelNr}});
    table.addIndexDef({chartKey, {chartKey}});
    table.setActive(true);
}

namespace {

// A position's five values packed one after the other, each as a 32-bit length and its bytes.
constexpr std::size_t kValues = 5;

std::size_t packedSize(const datafiles::PositionView& p) {
    return kValues * sizeof(std::uint32_t) + p.BestellNr.size() + p.menge.size() + p.ArtikelNr.size() +
           p.Bezeichnung.size() + p.Preis.size();
}

char* pack(char* out, std::string_view value) {
    const auto n = static_cast<std::uint32_t>(value.size());
    std::memcpy(out, &n, sizeof n);
    std::memcpy(out + sizeof n, value.data(), n);
    return out + sizeof n + n;
}

const char* unpack(const char* in, std::string_view& value) {
    std::uint32_t n;
    std::memcpy(&n, in, sizeof n);
    value = std::string_view(in + sizeof n, n);
    return in + sizeof n + n;
}

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
    // index, and in file order within an article. The index then finds each article's run in one
    // stretch of memory, which its sort and the walk of the totals read several times faster than
    // records scattered over the whole table. The table holds what a load in file order gives, and
    // its index walks it in the same order (among equal numbers the later line first).
    //
    // First pass: cut the lines, number the articles as the table will store their numbers, and
    // count the bytes of each article's positions.
    std::unordered_map<std::string_view, std::uint32_t> articleOf;
    std::vector<std::string_view> numbers;
    std::vector<std::size_t> bytesOf;
    std::vector<std::uint32_t> articleOfLine(lines.size(), ~std::uint32_t{0});
    std::optional<std::size_t> badQuantity;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        datafiles::PositionView p;
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
        const auto [it, added] = articleOf.try_emplace(nr, static_cast<std::uint32_t>(numbers.size()));
        if (added) {
            numbers.push_back(nr);
            bytesOf.push_back(0);
        }
        articleOfLine[i] = it->second;
        bytesOf[it->second] += packedSize(p);
    }

    // Each article's place in the index order, and where its positions start in the packed buffer.
    std::vector<std::uint32_t> byNumber(numbers.size());
    for (std::uint32_t a = 0; a < byNumber.size(); ++a)
        byNumber[a] = a;
    std::stable_sort(byNumber.begin(), byNumber.end(), [&](std::uint32_t a, std::uint32_t b) {
        return collation::compare(numbers[a], numbers[b], false) < 0;
    });
    std::vector<std::size_t> writeAt(numbers.size());
    std::size_t total = 0;
    for (std::uint32_t a : byNumber) {
        writeAt[a] = total;
        total += bytesOf[a];
    }

    // Second pass: every position to its article's part of the buffer. The writes go to as many
    // places as there are articles, few enough to stay in the cache.
    std::unique_ptr<char[]> packed(new char[std::max<std::size_t>(total, 1)]);
    constexpr std::size_t kAhead = 16; // the write of a later position is announced to the cache
    const std::size_t end = badQuantity.value_or(lines.size());
    for (std::size_t i = 0; i < end; ++i) {
        if (i + kAhead < end && articleOfLine[i + kAhead] != ~std::uint32_t{0})
            __builtin_prefetch(packed.get() + writeAt[articleOfLine[i + kAhead]], 1);
        if (articleOfLine[i] == ~std::uint32_t{0})
            continue;
        datafiles::PositionView p;
        datafiles::viewPositionLine(lines[i], p);
        char* out = packed.get() + writeAt[articleOfLine[i]];
        out = pack(out, p.BestellNr);
        out = pack(out, p.menge);
        out = pack(out, p.ArtikelNr);
        out = pack(out, p.Bezeichnung);
        out = pack(out, p.Preis);
        writeAt[articleOfLine[i]] = static_cast<std::size_t>(out - packed.get());
    }
    std::string badLine = badQuantity ? std::string(lines[*badQuantity]) : std::string();
    articleOf = {};
    numbers = {};
    articleOfLine = {};
    lines = {};
    fileBytes = {};

    std::string preis;
    for (const char* in = packed.get(); in < packed.get() + total;) {
        datafiles::PositionView p;
        in = unpack(in, p.BestellNr);
        in = unpack(in, p.menge);
        in = unpack(in, p.ArtikelNr);
        in = unpack(in, p.Bezeichnung);
        in = unpack(in, p.Preis);
        appendPosition(allPositions, p, preis);
    }
    packed.reset();
    if (badQuantity) {
        datafiles::PositionView p;
        datafiles::viewPositionLine(badLine, p);
        appendPosition(allPositions, p, preis); // throws
    }
    allPositions.setIndexName(kArtikelNr);
    allPositions.SyncIndexes();
    allPositions.First();
}

void computeArticleTotals(MemTable& allPositions, MemTable& totals, const Progress& progress,
                          std::size_t progressStep) {
    totals.emptyTable();
    totals.setIndexName(kArtikelNr);
    totals.SyncIndexes();
    // Bound views hear of the new totals once, at the end (or when an amount stops the work).
    MemTable::UpdateBlock batch(totals);

    const Field& posNr = allPositions.fieldByName(kArtikelNr);
    const Field& posMenge = allPositions.fieldByName(kMenge);
    const Field& posPreis = allPositions.fieldByName(kPreis);
    const int posBestellNr = allPositions.fieldByName(kBestellNr).index();
    const int posBezeichnung = allPositions.fieldByName(kBezeichnung).index();
    Field& nr = totals.fieldByName(kArtikelNr);
    Field& bestellNr = totals.fieldByName(kBestellNr);
    Field& bezeichnung = totals.fieldByName(kBezeichnung);
    Field& menge = totals.fieldByName(kMenge);
    Field& preis = totals.fieldByName(kPreis);

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
            run.menge = menge.asFloat() + run.menge;
            run.preis.scaled += preis.asCurrency().scaled;
            totals.Edit();
        }
        nr.setAsString(run.nr);
        bestellNr.setAsString(allPositions.viewAt(run.last, posBestellNr));
        bezeichnung.setAsString(allPositions.viewAt(run.last, posBezeichnung));
        menge.setAsFloat(run.menge);
        preis.setAsCurrency(run.preis);
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

std::int64_t chartScrollHeight(std::int64_t n) {
    const std::int64_t whole = n * 355 / 8;
    const std::int64_t eighths = n * 355 % 8;
    if (eighths > 4 || (eighths == 4 && whole % 2 != 0))
        return whole + 1;
    return whole;
}

} // namespace velmo::statistics
