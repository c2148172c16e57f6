#include "config/XmlLibrary.h"

#include "config/XmlSupport.h"

#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLUni.hpp>

namespace ombrel {

XmlStartError::XmlStartError(const std::string& message) : std::runtime_error(message) {}

XmlLibrary::XmlLibrary() {
    try {
        xercesc::XMLPlatformUtils::Initialize(xercesc::XMLUni::fgXercescDefaultLocale);
    } catch (const xercesc::XMLException& e) {
        throw XmlStartError("Error during Xerces-c Initialization.\n  Exception message:" +
                            xmlToString(e.getMessage()) + "\n");
    }
}

XmlLibrary::~XmlLibrary() {
    xercesc::XMLPlatformUtils::Terminate();
}

} // namespace ombrel
