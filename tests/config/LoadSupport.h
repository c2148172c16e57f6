#pragma once

// What the construction-file tests share: loading with the log captured, and running from the
// repository root, where the schema and the bundled examples are.

#include "base/Log.h"
#include "config/CityFactory.h"
#include "grammar/GenerationContext.h"
#include "tests/support/FreshContext.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace ombrel::testsupport {

inline std::string dataFile(const std::string& name) {
    return std::string(OMBREL_TEST_DATA_DIR) + "/data/" + name;
}

// A file of the bad-input catalogue, the one collection of broken construction files.
inline std::string catalogueFile(const std::string& name) {
    return std::string(OMBREL_SOURCE_DIR) + "/tests/bad-inputs/files/" + name;
}

struct Logged {
    bool ok;
    std::string log;
};

// Loads and returns the whole log of the load.
inline Logged loadLogged(CityFactory& factory, const std::string& path) {
    StringLogSink sink;
    ScopedLogSink scope(sink);
    const bool ok = factory.load(path);
    return {ok, sink.text()};
}

// Loads and returns what was logged between the "Parsing" line and, on success, the
// "Successfully loaded" line; fails the test when either is missing.
inline Logged loadBody(CityFactory& factory, const std::string& path) {
    Logged r = loadLogged(factory, path);
    const std::string whole = r.log;
    const std::string first = "Parsing " + path + " ... \r\n";
    const std::string last = "Successfully loaded " + path + "\r\n";
    if (r.log.rfind(first, 0) == 0) {
        r.log.erase(0, first.size());
    } else {
        ADD_FAILURE() << "no Parsing line in:\n" << whole;
    }
    if (r.ok && r.log.size() >= last.size() &&
        r.log.compare(r.log.size() - last.size(), last.size(), last) == 0) {
        r.log.erase(r.log.size() - last.size());
    } else if (r.ok) {
        ADD_FAILURE() << "no Successfully loaded line in:\n" << whole;
    }
    return r;
}

// Starts every test from fresh process-wide values in the repository root, and goes back to
// the previous directory afterwards.
class SourceDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::useFreshGenerationContext();
        previousDir_ = std::filesystem::current_path();
        std::filesystem::current_path(OMBREL_SOURCE_DIR);
    }
    void TearDown() override { std::filesystem::current_path(previousDir_); }

private:
    std::filesystem::path previousDir_;
};

} // namespace ombrel::testsupport
