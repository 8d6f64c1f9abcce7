#pragma once

// Lines of the local order files as the tests write them.
#include <string>

namespace velmo::test {

// A kunden.db line: date, number, name, PLZ/Ort, Versand, status; the other fields filled in.
inline std::string order(const std::string& date, const std::string& nr, const std::string& name,
                         const std::string& plzOrt, const std::string& versand, const std::string& status) {
    return date + ";;" + nr + ";;" + name + ";;Firma " + name + ";;Weg 1;;" + plzOrt +
           ";;DE;;0301;;0302;;x@y.de;;Vorkasse;;" + versand + ";;" + status;
}

// A bestellungen.db line as merged: the storefront's six fields and the appended status.
inline std::string position(const std::string& nr, const std::string& menge, const std::string& artikel,
                            const std::string& text, const std::string& preis) {
    return nr + ";;x;;" + menge + ";;" + artikel + ";;" + text + ";;" + preis + ";;0";
}

} // namespace velmo::test
