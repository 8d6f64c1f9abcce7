#pragma once

#include "platform/errors.h"

#include <string>
#include <string_view>

// The PDF of a complete invoice as an e-invoice: the report engine's PDF/A-1b turned into a
// PDF/A-3b (conformance B) that carries the invoice's XML as the associated file "factur-x.xml".
namespace velmo::facturx {

// The name the XML travels under; readers look for exactly this one.
inline constexpr const char* kFileName = "factur-x.xml";

// The e-invoice could not be put into the PDF. Its text is German and names no detail of the PDF
// library; nothing has been written when it is thrown.
class EFacturXError : public Exception {
public:
    using Exception::Exception;
};

// The XMP packet of a PDF/A made into that of a Factur-X PDF/A-3b: the PDF/A part set to 3 and the
// conformance to B (added when the packet has no PDF/A identification), and the Factur-X extension
// schema with its four properties (document type INVOICE, file name factur-x.xml, version 1.0,
// conformance level EN 16931) added. Throws EFacturXError for a packet without rdf:RDF.
std::string pdfa3Metadata(std::string_view xmp);

// The PDF (a PDF/A-1b with an XMP packet, as the report engine writes it) with xml embedded:
// an embedded file stream of MIME type text/xml with its size, checksum and dates, a file entry
// "factur-x.xml" with /AFRelationship /Alternative (the PDF shows what the XML says),
// listed in the catalog's /AF array and in the EmbeddedFiles name tree, and the metadata of
// pdfa3Metadata. Throws EFacturXError when the PDF cannot be read or has no XMP packet.
std::string embedInvoice(std::string_view pdf, std::string_view xml);

} // namespace velmo::facturx
