#include "tests/support/pdf_text.h"

#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace velmo::test {

namespace {

QString run(const QStringList& arguments) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), arguments);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        ADD_FAILURE() << "pdftotext failed: " << p.readAllStandardError().toStdString();
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

QString unescape(QString s) {
    s.replace(QLatin1String("&lt;"), QLatin1String("<"));
    s.replace(QLatin1String("&gt;"), QLatin1String(">"));
    s.replace(QLatin1String("&quot;"), QLatin1String("\""));
    s.replace(QLatin1String("&apos;"), QLatin1String("'"));
    s.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return s;
}

} // namespace

QString pdfLayoutText(const QString& pdfPath) {
    return run({QStringLiteral("-layout"), pdfPath, QStringLiteral("-")});
}

std::vector<PdfWord> pdfWords(const QString& pdfPath) {
    constexpr double kMmPerPoint = 25.4 / 72.0;
    const QString html = run({QStringLiteral("-bbox"), pdfPath, QStringLiteral("-")});
    static const QRegularExpression tag(QStringLiteral(
        R"re(<page |<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"));
    std::vector<PdfWord> words;
    int page = -1;
    for (auto it = tag.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (m.captured(0).startsWith(QLatin1String("<page"))) {
            ++page;
            continue;
        }
        words.push_back({page, unescape(m.captured(5)), m.captured(1).toDouble() * kMmPerPoint,
                         m.captured(2).toDouble() * kMmPerPoint, m.captured(3).toDouble() * kMmPerPoint,
                         m.captured(4).toDouble() * kMmPerPoint});
    }
    return words;
}

} // namespace velmo::test
