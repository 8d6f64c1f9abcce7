// Article list benchmark: a catalog of 100,000 articles (about 25 MB) opened in the article list
// window, on the window's own code path (choosing the catalog in the catalog box) and on the
// offscreen platform, until the grid has painted it; then search keystrokes in the search field,
// each until the grid has painted the found row. Also shown: switching the index, and saving. The
// peer, measured in the same run: SQLite reading the catalog into a table in memory, indexing it by
// article number and reading its first screen in that order.
//
// Every figure is the median of three rounds, wall time beside the processor time of the window's
// thread (on a machine shared with other work the second tells the work apart from the waiting).
// The last line holds the two figures with targets: the slowest keystroke of a round of typing in
// the article-number order (target 2 ms) and the save of the whole catalog after a change, its
// prices converted (target 300 ms), each with its ratio to the target.
#include "bench/common/measure.h"
#include "bench/common/paint_counter.h"
#include "bench/common/silent_dialogs.h"
#include "bench/common/sqlite_peer.h"
#include "catalog/artedit.h"
#include "catalog/artikel.h"
#include "datafiles/articlefile.h"
#include "memtable/qt/tablegrid.h"
#include "platform/linefile.h"
#include "shell/currency.h"
#include "shell/dialogs.h"
#include "shell/main.h"
#include "shell/shop.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

using namespace velmo;

namespace {

using bench::Clock;
using bench::msSince;
using bench::statusKb;

constexpr int kArticles = 100'000;
constexpr int kRounds = 3;

using bench::SilentDialogs;

// Article lines as a shop has them: Windows-1252 words with umlauts, a few hundred manufacturers and
// suppliers, a description of a hundred and more characters, prices with a decimal comma.
std::size_t writeCatalog(const std::string& path) {
    std::mt19937 rng(4711);
    auto pick = [&](const std::vector<std::string>& v) -> const std::string& {
        return v[std::uniform_int_distribution<std::size_t>(0, v.size() - 1)(rng)];
    };
    const std::vector<std::string> syllables = {"Ber", "ka",    "sch",  "m\xFC", "ller", "tor", "gen", "ab",
                                                "ze",  "ri",    "\xF6", "\xDF",  "an",   "tel", "bo",  "lin",
                                                "ha",  "\xC4r", "wer",  "ke",    "sta",  "dt",  "ung", "ei"};
    const std::vector<std::string> words = {
        "Tasse",      "Kanne", "Becher",   "Teller",    "Sch\xFCssel", "Kerze",  "Leuchte", "Vase",
        "Schale",     "Krug",  "Dose",     "Glas",      "wei\xDF",     "rot",    "gro\xDF", "klein",
        "handbemalt", "aus",   "Steingut", "Porzellan", "mit",         "Deckel", "f\xFCr",  "Garten"};
    auto name = [&](int parts) {
        std::string s;
        for (int i = 0; i < parts; ++i)
            s += pick(syllables);
        s[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
        return s;
    };
    auto sentence = [&](int n) {
        std::string s;
        for (int i = 0; i < n; ++i) {
            if (i > 0)
                s += ' ';
            s += pick(words);
        }
        return s;
    };
    std::vector<std::string> makers, suppliers, groups;
    for (int i = 0; i < 300; ++i)
        makers.push_back(name(3) + " GmbH");
    for (int i = 0; i < 120; ++i)
        suppliers.push_back(name(2) + " Handel");
    for (int i = 0; i < 40; ++i)
        groups.push_back(name(2));

    Lines lines;
    lines.reserve(kArticles + 1);
    lines.push_back(datafiles::articleHeaderLine());
    std::vector<int> numbers(kArticles);
    for (int i = 0; i < kArticles; ++i)
        numbers[static_cast<std::size_t>(i)] = i;
    std::shuffle(numbers.begin(), numbers.end(), rng); // files are not sorted by number
    std::uniform_int_distribution<int> euros(1, 499), cents(0, 99), grams(10, 5000), stock(0, 500);
    for (int i = 0; i < kArticles; ++i) {
        char nr[16], price[16], offer[16];
        std::snprintf(nr, sizeof nr, "A-%06d", numbers[static_cast<std::size_t>(i)]);
        std::snprintf(price, sizeof price, "%d,%02d", euros(rng), cents(rng));
        std::snprintf(offer, sizeof offer, "%d,%02d", euros(rng), cents(rng));
        datafiles::ArticleValues v;
        v[0] = nr;
        v[1] = "KZ-" + std::to_string(i % 977);
        v[2] = pick(makers);
        v[3] = pick(suppliers);
        v[4] = pick(groups);
        v[5] = sentence(5);
        v[6] = price;
        v[7] = std::to_string(grams(rng));
        v[8] = std::to_string(stock(rng));
        v[9] = sentence(14);
        v[10] = i % 10 == 0 ? offer : "";
        v[11] = std::string(nr) + ".jpg";
        v[12] = std::string(nr) + "g.jpg";
        v[13] = "http://www." + name(2) + ".example.com/artikel";
        lines.push_back(datafiles::joinArticleLine(v));
    }
    writeLines(path, lines);
    return std::filesystem::file_size(path);
}

using bench::PaintCounter;

PaintCounter* paintCounter = nullptr;

// The grid as the owner sees it: the pending events handled, which paints what changed. Should the
// platform not have painted the grid, it is painted here, inside the measurement.
void untilPainted(TForm4& list, bool mustPaint) {
    const int before = paintCounter->paints;
    QApplication::processEvents();
    if (mustPaint && paintCounter->paints == before)
        list.DBGrid1->viewport()->repaint();
}

struct Timed {
    double wall = 0;
    double cpu = 0; // processor time of this thread
};

// The median wall time and, on its own, the median processor time.
Timed median(std::vector<Timed> v) {
    auto mid = [&](auto key) {
        std::sort(v.begin(), v.end(), [&](const Timed& a, const Timed& b) { return key(a) < key(b); });
        return key(v[v.size() / 2]);
    };
    return {mid([](const Timed& t) { return t.wall; }), mid([](const Timed& t) { return t.cpu; })};
}

template <class F> Timed timed(F f) {
    const double c0 = bench::processorMs(CLOCK_THREAD_CPUTIME_ID);
    const auto t0 = Clock::now();
    f();
    return {msSince(t0), bench::processorMs(CLOCK_THREAD_CPUTIME_ID) - c0};
}

Timed keystroke(TForm4& list, QChar c) {
    return timed([&] {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(list.Edit1, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(list.Edit1, &release);
        untilPainted(list, false);
    });
}

// Types text into the emptied search field; returns the slowest keystroke (wall and processor
// time each on its own).
Timed typeSearch(TForm4& list, const char* label, const QString& text) {
    list.Edit1->blockSignals(true);
    list.Edit1->clear();
    list.Edit1->blockSignals(false);
    // The window at rest before the first keystroke, as the owner finds it: what opening the catalog
    // or choosing an index left to lay out and paint is done before the typing is timed.
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
    Timed worst;
    const int paintsBefore = paintCounter->paints;
    std::printf("keystrokes (%s):", label);
    for (QChar c : text) {
        const Timed t = keystroke(list, c);
        worst.wall = std::max(worst.wall, t.wall);
        worst.cpu = std::max(worst.cpu, t.cpu);
        std::printf(" %s %.2f/%.2f", QString(c).toUtf8().constData(), t.wall, t.cpu);
    }
    std::printf(" ms  -> row %d, grid painted %d times\n", list.DBGrid1->currentIndex().row(),
                paintCounter->paints - paintsBefore);
    return worst;
}

void chooseIndex(TForm4& list, int i) {
    list.ComboBox2->setCurrentIndex(i);
    emit list.ComboBox2->activated(i);
    untilPainted(list, true);
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    SilentDialogs silent;
    Shop shop(silent);

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }
    shop.ShopSettings.localDat = dir.path();
    const std::string catalog = dir.path().toStdString() + "/artikel.db";
    const auto tGen = Clock::now();
    const std::size_t bytes = writeCatalog(catalog);
    writeLines(dir.path().toStdString() + "/db_sys.db", {"Artikel;;Tassen;Kannen;;artikel.db"});
    std::printf("catalog: %d articles, %.1f MB (written in %.0f ms)\n", kArticles,
                static_cast<double>(bytes) / 1e6, msSince(tGen));

    TForm9 currency(shop.dialogs);
    TForm1 main(shop, currency);
    TForm5 edit(shop, &main);
    TForm4 list(shop, edit, &main);
    PaintCounter counter;
    paintCounter = &counter;
    list.DBGrid1->viewport()->installEventFilter(&counter);
    list.show();
    QApplication::processEvents();
    const long baseKb = statusKb("VmRSS:");

    const std::string original = readFileBytes(catalog);
    auto openCatalog = [&] {
        list.ComboBox1->setCurrentIndex(0);
        emit list.ComboBox1->activated(0);
    };
    std::vector<double> opens;
    for (int round = 0; round < kRounds; ++round) {
        const auto t0 = Clock::now();
        openCatalog();
        const double loaded = msSince(t0);
        untilPainted(list, true);
        opens.push_back(msSince(t0));
        std::printf("open %d: %.0f ms (loaded %.0f ms, %d rows, current row %d)\n", round + 1, opens.back(),
                    loaded, list.DBGrid1->model()->rowCount(), list.DBGrid1->currentIndex().row());
    }
    std::printf("memory: %.0f MB more resident with the catalog loaded\n",
                static_cast<double>(statusKb("VmRSS:") - baseKb) / 1024.0);

    // Searches as typed, a different article each round.
    const QString searches[kRounds] = {"A-05123", "A-07391", "A-02846"};
    std::vector<Timed> keys;
    for (const QString& text : searches)
        keys.push_back(typeSearch(list, "Artikel-Nr.", text));

    const auto t0 = Clock::now();
    chooseIndex(list, 2);
    std::printf("index Hersteller chosen: %.0f ms (the order is sorted on first use)\n", msSince(t0));
    typeSearch(list, "Hersteller", "Kam");

    // A change, then the save routine with the question answered yes: the whole file written, every
    // price converted and stored back. Each round starts from the catalog as generated.
    std::vector<Timed> saves;
    for (int round = 0; round < kRounds; ++round) {
        writeFileBytes(catalog, original);
        openCatalog();
        chooseIndex(list, 2);
        list.ArticleTable.Edit();
        list.ArticleTable.fieldByName("Bestand").setAsString("7");
        list.ArticleTable.Post();
        list.Button2Click(); // marks the table unsaved; the edit window is not shown here
        const Timed t = timed([&] {
            list.SaveArticles();
            untilPainted(list, true);
        });
        saves.push_back(t);
        std::printf("save %d: %.0f ms, processor %.0f ms (prices converted and stored back)\n", round + 1,
                    t.wall, t.cpu);
    }

    std::sort(opens.begin(), opens.end());
    const double open = opens[opens.size() / 2];
    // The peer: the catalog into SQLite, indexed by article number, its first screen in that order.
    const bench::PeerRun peer = bench::medianPeer(
        kRounds, {{catalog, "artikel", static_cast<int>(datafiles::kArticleFieldCount), "c0"}},
        "SELECT * FROM artikel ORDER BY c0 LIMIT 40");
    std::printf("peer: SQLite in memory reads the catalog, indexes it by article number and reads its first "
                "%ld rows in %.0f ms\n",
                peer.rows, peer.ms);
    std::printf("ratio vs sqlite: open %.3f (open %.0f ms)\n", open / peer.ms, open);
    const Timed key = median(keys), save = median(saves);
    std::printf("keystroke: %.2f ms, processor %.2f ms (target 2 ms: %.2f); save: %.0f ms, processor %.0f ms "
                "(target 300 ms: %.2f)\n",
                key.wall, key.cpu, key.wall / 2.0, save.wall, save.cpu, save.wall / 300.0);
    return silent.problems == 0 ? 0 : 1;
}
