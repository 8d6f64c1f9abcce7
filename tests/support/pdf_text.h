#pragma once

#include <QString>

#include <vector>

// Reading a PDF back as text, through poppler's pdftotext.
namespace velmo::test {

// The text of every page, laid out as on the page (pdftotext -layout); pages end with a form feed.
QString pdfLayoutText(const QString& pdfPath);

// One word on a page, its box in millimetres from the page's top-left corner.
struct PdfWord {
    int page; // from 0
    QString text;
    double left, top, right, bottom;
};
std::vector<PdfWord> pdfWords(const QString& pdfPath);

} // namespace velmo::test
