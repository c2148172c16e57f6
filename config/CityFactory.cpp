#include "config/CityFactory.h"

#include "config/XmlSupport.h"

#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLUni.hpp>

namespace ombrel {

namespace {

std::string startXmlLibrary() {
    try {
        xercesc::XMLPlatformUtils::Initialize(xercesc::XMLUni::fgXercescDefaultLocale);
    } catch (const xercesc::XMLException& e) {
        return "Error during Xerces-c Initialization.\n  Exception message:" +
               xmlToString(e.getMessage()) + "\n";
    }
    return {};
}

} // namespace

XmlStartError::XmlStartError(const std::string& message) : std::runtime_error(message) {}

// The XML library counts its starts and stops, so several factories may live at once.
CityFactory::CityFactory() {
    if (const std::string error = startXmlLibrary(); !error.empty()) {
        throw XmlStartError(error);
    }
    lastTextureGroup = std::make_shared<LastTextureGroup>();
}

CityFactory::~CityFactory() {
    xercesc::XMLPlatformUtils::Terminate();
}

void CityFactory::clear() {
    if (!loaded) {
        return;
    }
    buildings.clear();
    crossStreets.clear();
    horizontalStreets.clear();
    verticalStreets.clear();
    procedures.clear();
    textureGroups.clear();
    inlineTextureGroups.clear();
    loaded = false;
}

} // namespace ombrel
