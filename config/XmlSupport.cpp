#include "config/XmlSupport.h"

#include "base/Log.h"
#include "config/Attributes.h"

namespace ombrel {

std::string xmlToString(const XMLCh* text) {
    return utf16ToUtf8(xmlView(text));
}

float xmlToFloat(const XMLCh* text) {
    return readFloat(xmlToString(text));
}

void DOMTreeErrorReporter::warning(const xercesc::SAXParseException&) {}

void DOMTreeErrorReporter::closeLine() {
    if (lineOpen_) {
        lineOpen_ = false;
        infoLog << "\r\n";
    }
}

void DOMTreeErrorReporter::error(const xercesc::SAXParseException& e) {
    errors_ = true;
    closeLine();
    errorLog.line("Error at file \"", xmlView(e.getSystemId()), "\", line ", e.getLineNumber(),
                  ", column ", e.getColumnNumber());
    errorLog.line("\tMessage: ", xmlView(e.getMessage()));
}

void DOMTreeErrorReporter::fatalError(const xercesc::SAXParseException& e) {
    error(e);
}

void DOMTreeErrorReporter::resetErrors() {
    errors_ = false;
}

xercesc::DOMNodeFilter::FilterAction DOMNameFilter::acceptNode(const xercesc::DOMNode* node) const {
    return hasName(node, name_) ? FILTER_ACCEPT : FILTER_SKIP;
}

} // namespace ombrel
