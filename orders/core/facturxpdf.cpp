#include "orders/core/facturxpdf.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFEFStreamObjectHelper.hh>
#include <qpdf/QPDFEmbeddedFileDocumentHelper.hh>
#include <qpdf/QPDFFileSpecObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <qpdf/QUtil.hh>

#include <regex>

namespace velmo::facturx {

namespace {

constexpr const char* kEmbedFailed =
    "Die E-Rechnung (factur-x.xml) konnte nicht in die PDF-Datei eingebettet werden.";

// The schema a PDF/A validator needs to accept the fx: properties: PDF/A allows only XMP properties
// whose schema the file itself describes.
constexpr const char* kExtensionSchema =
    R"(    <rdf:Description rdf:about="" xmlns:pdfaExtension="http://www.aiim.org/pdfa/ns/extension/" xmlns:pdfaSchema="http://www.aiim.org/pdfa/ns/schema#" xmlns:pdfaProperty="http://www.aiim.org/pdfa/ns/property#">
      <pdfaExtension:schemas>
        <rdf:Bag>
          <rdf:li rdf:parseType="Resource">
            <pdfaSchema:schema>Factur-X PDFA Extension Schema</pdfaSchema:schema>
            <pdfaSchema:namespaceURI>urn:factur-x:pdfa:CrossIndustryDocument:invoice:1p0#</pdfaSchema:namespaceURI>
            <pdfaSchema:prefix>fx</pdfaSchema:prefix>
            <pdfaSchema:property>
              <rdf:Seq>
                <rdf:li rdf:parseType="Resource">
                  <pdfaProperty:name>DocumentFileName</pdfaProperty:name>
                  <pdfaProperty:valueType>Text</pdfaProperty:valueType>
                  <pdfaProperty:category>external</pdfaProperty:category>
                  <pdfaProperty:description>The name of the embedded XML document</pdfaProperty:description>
                </rdf:li>
                <rdf:li rdf:parseType="Resource">
                  <pdfaProperty:name>DocumentType</pdfaProperty:name>
                  <pdfaProperty:valueType>Text</pdfaProperty:valueType>
                  <pdfaProperty:category>external</pdfaProperty:category>
                  <pdfaProperty:description>The type of the hybrid document in capital letters, e.g. INVOICE or ORDER</pdfaProperty:description>
                </rdf:li>
                <rdf:li rdf:parseType="Resource">
                  <pdfaProperty:name>Version</pdfaProperty:name>
                  <pdfaProperty:valueType>Text</pdfaProperty:valueType>
                  <pdfaProperty:category>external</pdfaProperty:category>
                  <pdfaProperty:description>The actual version of the standard applying to the embedded XML document</pdfaProperty:description>
                </rdf:li>
                <rdf:li rdf:parseType="Resource">
                  <pdfaProperty:name>ConformanceLevel</pdfaProperty:name>
                  <pdfaProperty:valueType>Text</pdfaProperty:valueType>
                  <pdfaProperty:category>external</pdfaProperty:category>
                  <pdfaProperty:description>The conformance level of the embedded XML document</pdfaProperty:description>
                </rdf:li>
              </rdf:Seq>
            </pdfaSchema:property>
          </rdf:li>
        </rdf:Bag>
      </pdfaExtension:schemas>
    </rdf:Description>
    <rdf:Description rdf:about="" xmlns:fx="urn:factur-x:pdfa:CrossIndustryDocument:invoice:1p0#">
      <fx:DocumentType>INVOICE</fx:DocumentType>
      <fx:DocumentFileName>factur-x.xml</fx:DocumentFileName>
      <fx:Version>1.0</fx:Version>
      <fx:ConformanceLevel>EN 16931</fx:ConformanceLevel>
    </rdf:Description>
)";

constexpr const char* kPdfaId =
    R"(    <rdf:Description rdf:about="" xmlns:pdfaid="http://www.aiim.org/pdfa/ns/id/" pdfaid:part="3" pdfaid:conformance="B"/>
)";

} // namespace

std::string pdfa3Metadata(std::string_view xmp) {
    std::string out(xmp);
    // The identification as attributes (pdfaid:part="1") or as elements (<pdfaid:part>1<…>).
    const std::regex partAttribute(R"(pdfaid:part\s*=\s*(["'])[^"']*(["']))");
    const std::regex partElement(R"(<pdfaid:part>[^<]*</pdfaid:part>)");
    const std::regex levelAttribute(R"(pdfaid:conformance\s*=\s*(["'])[^"']*(["']))");
    const std::regex levelElement(R"(<pdfaid:conformance>[^<]*</pdfaid:conformance>)");
    const bool identified = std::regex_search(out, partAttribute) || std::regex_search(out, partElement);
    out = std::regex_replace(out, partAttribute, "pdfaid:part=$013$2");
    out = std::regex_replace(out, partElement, "<pdfaid:part>3</pdfaid:part>");
    out = std::regex_replace(out, levelAttribute, "pdfaid:conformance=$01B$2");
    out = std::regex_replace(out, levelElement, "<pdfaid:conformance>B</pdfaid:conformance>");
    const std::size_t end = out.rfind("</rdf:RDF>");
    if (end == std::string::npos)
        throw EFacturXError(kEmbedFailed);
    std::string added = identified ? "" : kPdfaId;
    added += kExtensionSchema;
    // At the start of the closing tag's line, so that the packet keeps its indentation.
    const std::size_t lineStart = end == 0 ? 0 : out.find_last_not_of(" \t", end - 1) + 1;
    out.insert(lineStart > 0 && out[lineStart - 1] == '\n' ? lineStart : end, added);
    return out;
}

std::string embedInvoice(std::string_view pdf, std::string_view xml) {
    try {
        QPDF doc;
        doc.setSuppressWarnings(true);
        const std::string input(pdf);
        doc.processMemoryFile("invoice.pdf", input.data(), input.size());
        QPDFObjectHandle root = doc.getRoot();
        QPDFObjectHandle metadata = root.getKey("/Metadata");
        if (!metadata.isStream())
            throw EFacturXError(kEmbedFailed);
        const std::shared_ptr<Buffer> packet = metadata.getStreamData(qpdf_dl_all);
        const std::string xmp(reinterpret_cast<const char*>(packet->getBuffer()), packet->getSize());
        // Metadata stays unfiltered, so that any reader finds it.
        metadata.replaceStreamData(pdfa3Metadata(xmp), QPDFObjectHandle::newNull(),
                                   QPDFObjectHandle::newNull());

        const std::string now = QUtil::qpdf_time_to_pdf_time(QUtil::get_current_qpdf_time());
        QPDFEFStreamObjectHelper file = QPDFEFStreamObjectHelper::createEFStream(doc, std::string(xml));
        file.setSubtype("text/xml").setCreationDate(now).setModDate(now);
        auto entry = QPDFFileSpecObjectHelper::createFileSpec(doc, kFileName, file);
        entry.setDescription("Factur-X/ZUGFeRD-Rechnung (EN 16931)");
        QPDFObjectHandle entryObject = entry.getObjectHandle();
        entryObject.replaceKey("/AFRelationship", QPDFObjectHandle::newName("/Alternative"));
        QPDFEmbeddedFileDocumentHelper(doc).replaceEmbeddedFile(kFileName, entry);
        root.replaceKey("/AF", QPDFObjectHandle::newArray({entryObject}));

        QPDFWriter writer(doc);
        writer.setOutputMemory();
        // Associated files came with PDF 1.7 (ISO 32000-1), which PDF/A-3 is based on.
        writer.setMinimumPDFVersion("1.7");
        writer.write();
        const std::shared_ptr<Buffer> out = writer.getBufferSharedPointer();
        return std::string(reinterpret_cast<const char*>(out->getBuffer()), out->getSize());
    } catch (const EFacturXError&) {
        throw;
    } catch (const std::exception&) {
        throw EFacturXError(kEmbedFailed);
    }
}

} // namespace velmo::facturx
