// The ledger of invoice numbers: consecutive across runs of the program, the same number for a
// reprint, none for a print that failed, and a damaged file stops numbering instead of reusing
// numbers. Also the invoice settings as the store keeps them.
#include "orders/core/invoiceledger.h"
#include "orders/core/invoicesettings.h"

#include "platform/settings_store.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace velmo;
using namespace velmo::test;

namespace {

std::string plain(std::int64_t n) {
    return "RE-" + std::to_string(n);
}

class Ledger : public ::testing::Test {
protected:
    std::string path() const { return dir.file(InvoiceLedger::kFileName); }

    // One run of the program printing an order: a fresh ledger object each time, as after a restart.
    std::optional<LedgerEntry> print(const std::string& bestellNr, bool succeeds = true,
                                     std::int64_t first = 1) {
        InvoiceLedger ledger(path());
        return ledger.issue(bestellNr, first, "10.12.2026", plain, [&](const LedgerEntry& e) {
            printed.push_back(e.numberText);
            return succeeds;
        });
    }

    TempDir dir;
    std::vector<std::string> printed;
};

} // namespace

TEST_F(Ledger, NumbersAreConsecutiveAcrossRunsAndAReprintKeepsItsNumber) {
    EXPECT_EQ(print("4711")->numberText, "RE-1");
    EXPECT_EQ(print("4712")->numberText, "RE-2");
    // A reprint on another day prints and keeps the first number and date.
    InvoiceLedger other(path());
    const std::optional<LedgerEntry> again =
        other.issue("4711", 1, "24.12.2026", plain, [](const LedgerEntry&) { return true; });
    EXPECT_EQ(again->numberText, "RE-1");
    EXPECT_EQ(again->date, "10.12.2026");
    EXPECT_EQ(print("4713")->numberText, "RE-3");
    EXPECT_EQ(printed, (std::vector<std::string>{"RE-1", "RE-2", "RE-3"}));

    InvoiceLedger reread(path());
    reread.load();
    ASSERT_EQ(reread.entries().size(), 3u);
    EXPECT_EQ(reread.find("4712")->number, 2);
    EXPECT_EQ(reread.find("4799"), nullptr);
    EXPECT_EQ(readBytes(path()), "Nr;;Rechnungsnummer;;BestellNr;;Datum;;Brutto;;Netto;;Steuer\r\n"
                                 "1;;RE-1;;4711;;10.12.2026;;;;;;\r\n"
                                 "2;;RE-2;;4712;;10.12.2026;;;;;;\r\n"
                                 "3;;RE-3;;4713;;10.12.2026;;;;;;\r\n");
}

TEST_F(Ledger, AFailedPrintAssignsNoNumber) {
    print("4711");
    EXPECT_FALSE(print("4712", false));
    EXPECT_THROW(InvoiceLedger(path()).issue(
                     "4713", 1, "10.12.2026", plain,
                     [](const LedgerEntry&) -> bool { throw std::runtime_error("Papierstau"); }),
                 std::runtime_error);
    // The number the failed prints showed is the next one given out.
    EXPECT_EQ(print("4714")->numberText, "RE-2");
    EXPECT_EQ(printed, (std::vector<std::string>{"RE-1", "RE-2", "RE-2"}));
    InvoiceLedger ledger(path());
    ledger.load();
    EXPECT_EQ(ledger.find("4712"), nullptr);
}

TEST_F(Ledger, TheStartNumberMovesForwardButNeverBack) {
    EXPECT_EQ(print("1", true, 100)->number, 100);
    EXPECT_EQ(print("2", true, 100)->number, 101);
    // Set back below what was given out: numbering goes on after the last one.
    EXPECT_EQ(print("3", true, 5)->number, 102);
}

TEST_F(Ledger, ANumberTakenMeanwhileIsNotRecordedTwice) {
    // Two invoices shown at once with the same next number; the second print must not record it.
    InvoiceLedger first(path()), second(path());
    const LedgerEntry a = first.prospective("A", 1, "10.12.2026", plain);
    const LedgerEntry b = second.prospective("B", 1, "10.12.2026", plain);
    ASSERT_EQ(a.number, b.number);
    first.record(a, 1);
    try {
        second.record(b, 1);
        FAIL();
    } catch (const EInvoiceLedgerError& e) {
        EXPECT_EQ(std::string(e.what()), "Die Rechnungsnummer RE-1 ist inzwischen vergeben; die Rechnung der "
                                         "Bestellung B bitte erneut drucken");
    }
    // Recording an order that has its number already gives that number back.
    EXPECT_EQ(second.record(second.prospective("A", 1, "11.12.2026", plain), 1).date, "10.12.2026");
}

TEST_F(Ledger, ADamagedLineStopsNumberingWithAClearMessage) {
    const std::string header = "Nr;;Rechnungsnummer;;BestellNr;;Datum;;Brutto;;Netto;;Steuer\r\n";
    const std::string one = "1;;RE-1;;4711;;10.12.2026;;10,00;;8,40;;1,60\r\n";
    const struct {
        const char* what;
        std::string file;
        std::string why;
    } cases[] = {
        {"a short line", header + one + "2;;RE-2;;4712\r\n", "Zeile 3 beschädigt: sie hat 3 statt 7 Felder"},
        {"an empty line", header + one + "\r\n" + one, "Zeile 3 beschädigt: sie hat 1 statt 7 Felder"},
        {"not a number", header + one + "zwei;;RE-2;;4712;;d;;0;;0;;0\r\n",
         "Zeile 3 beschädigt: 'zwei' ist keine Rechnungsnummer"},
        {"a gap", header + one + "3;;RE-3;;4712;;d;;0;;0;;0\r\n",
         "Zeile 3 beschädigt: auf die Nummer 1 folgt 3"},
        {"a number twice", header + one + "1;;RE-1;;4712;;d;;0;;0;;0\r\n",
         "Zeile 3 beschädigt: auf die Nummer 1 folgt 1"},
        {"an order twice", header + one + "2;;RE-2;;4711;;d;;0;;0;;0\r\n",
         "Zeile 3 beschädigt: die Bestellung 4711 hat schon die Rechnung RE-1"},
        {"no order number", one + "2;;RE-2;;;;d;;0;;0;;0\r\n", "Zeile 2 beschädigt: die Bestellnummer fehlt"},
        {"a damaged header", "Nr;Rechnungsnummer\r\n" + one, "Zeile 1 beschädigt: sie hat 1 statt 7 Felder"},
    };
    for (const auto& c : cases) {
        writeBytes(path(), c.file);
        try {
            print("4800");
            ADD_FAILURE() << c.what;
        } catch (const EInvoiceLedgerError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Die Rechnungsliste " + path() + " ist in " + c.why +
                          ". Solange sie nicht berichtigt ist, wird keine Rechnungsnummer "
                          "vergeben")
                << c.what;
        }
        EXPECT_EQ(readBytes(path()), c.file) << c.what;
    }
    EXPECT_TRUE(printed.empty());
}

TEST_F(Ledger, AValueThatWouldBreakItsLineIsRefused) {
    EXPECT_THROW(print("47;;11"), EInvoiceLedgerError);
    EXPECT_THROW(print("47\r\n11"), EInvoiceLedgerError);
    EXPECT_EQ(print("4711")->number, 1);
}

TEST(InvoiceSettingsStore, RoundTripsAndReadsDefaultsAndBadValues) {
    TempDir dir;
    std::unique_ptr<SettingsStore> store = SettingsStore::openOrThrow();
    const InvoiceSettings defaults = InvoiceSettings::load(*store);
    EXPECT_FALSE(defaults.complete);
    EXPECT_EQ(defaults.taxMode, InvoiceSettings::TaxMode::Regular);
    EXPECT_EQ(defaults.standardPercent, 19);
    EXPECT_EQ(defaults.reducedPercent, 7);
    EXPECT_EQ(defaults.nextNumber, 1);

    InvoiceSettings s;
    s.complete = true;
    s.sellerName = "Kerzen Müller";
    s.street = "Hauptstraße 1";
    s.town = "50667 Köln";
    s.vatId = "DE123456789";
    s.taxMode = InvoiceSettings::TaxMode::SmallBusiness;
    s.reducedGroups = {"Bücher", "Lebensmittel"};
    s.numberPrefix = "2026-";
    s.nextNumber = 17;
    s.save(*store);
    const InvoiceSettings back = InvoiceSettings::load(*SettingsStore::openOrThrow());
    EXPECT_TRUE(back.complete);
    EXPECT_EQ(back.sellerName, "Kerzen Müller");
    EXPECT_EQ(back.town, "50667 Köln");
    EXPECT_EQ(back.vatId, "DE123456789");
    EXPECT_EQ(back.taxMode, InvoiceSettings::TaxMode::SmallBusiness);
    EXPECT_EQ(back.reducedGroups, (Lines{"Bücher", "Lebensmittel"}));
    EXPECT_EQ(back.numberText(back.nextNumber), "2026-0017");
    EXPECT_EQ(back.missingDetail(), "");

    store->writeString("invoiceNextNumber", "zwölf");
    store->writeString("invoiceStandardRate", "-3");
    const InvoiceSettings bad = InvoiceSettings::load(*store);
    EXPECT_EQ(bad.nextNumber, 1);
    EXPECT_EQ(bad.standardPercent, 19);
}

TEST(InvoiceSettingsRules, RatesPerGroupAndMissingDetails) {
    InvoiceSettings s;
    s.reducedGroups = {"Bücher"};
    EXPECT_EQ(s.percentOf("Bücher"), 7);
    EXPECT_EQ(s.percentOf("bücher"), 19);
    EXPECT_EQ(s.percentOf(""), 19);
    s.taxMode = InvoiceSettings::TaxMode::SmallBusiness;
    EXPECT_EQ(s.percentOf("Bücher"), 0);

    EXPECT_EQ(s.missingDetail(), "Für die Rechnung fehlt der Name des Verkäufers");
    s.sellerName = "Kerzen Müller";
    s.street = "Hauptstraße 1";
    EXPECT_EQ(s.missingDetail(), "Für die Rechnung fehlt die Anschrift des Verkäufers");
    s.town = "50667 Köln";
    EXPECT_EQ(s.missingDetail(), "Für die Rechnung fehlt die Steuernummer oder die USt-IdNr.");
    s.taxNumber = "214/5678/1234";
    EXPECT_EQ(s.missingDetail(), "");
}
