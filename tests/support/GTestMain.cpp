// The main() of every GoogleTest program: runs each test in a scratch folder of its own, so
// that ::testing::TempDir() is a different, empty folder for every test and every process.

#include "tests/support/Scratch.h"

#include <gtest/gtest.h>

namespace {

class ScratchListener : public testing::EmptyTestEventListener {
public:
    // Called before the test's fixture is made and after it is gone, so SetUp() and TearDown()
    // see the test's own folder.
    void OnTestStart(const testing::TestInfo& test) override {
        scratch_.start(std::string(test.test_suite_name()) + "." + test.name());
    }
    void OnTestEnd(const testing::TestInfo& test) override {
        scratch_.finish(test.result()->Failed());
    }

private:
    ombrel::testsupport::ScratchPerTest scratch_;
};

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // The listener list owns it.
    testing::UnitTest::GetInstance()->listeners().Append(new ScratchListener);
    return RUN_ALL_TESTS();
}
