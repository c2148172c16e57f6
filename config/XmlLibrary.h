#pragma once

#include <stdexcept>
#include <string>

namespace ombrel {

// Thrown when the XML library cannot start. what() is the whole text to show the user:
// "Error during Xerces-c Initialization.\n  Exception message:<why>\n". The program cannot load
// construction files without the library and should end.
class XmlStartError : public std::runtime_error {
public:
    explicit XmlStartError(const std::string& message);
};

// Keeps the XML library started for its lifetime. The library counts its starts and stops, so
// several may live at once; the last one to go stops it.
class XmlLibrary {
public:
    // Starts the library; throws XmlStartError when it cannot.
    XmlLibrary();
    ~XmlLibrary();
    XmlLibrary(const XmlLibrary&) = delete;
    XmlLibrary& operator=(const XmlLibrary&) = delete;
};

} // namespace ombrel
