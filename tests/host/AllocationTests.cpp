// Option assembly when memory runs out, and how its texts grow, with the
// failing allocator: a test can make the n-th allocation of the host's code
// fail and count reallocations.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "FailingAllocator.h"
#include "Installation.h"
#include "JvmOptions.h"

namespace {

void Release(JvmOptionList list) {
    ReleaseBootClassPath(&list);
    for (jint i = 2; i < BootClassPathIndex(list); ++i) free(list.options[i].optionString);
    free(list.options);
}

class AllocationTest : public ::testing::Test {
  protected:
    void TearDown() override { FailingAllocator::Disarm(); }

    JvmOptionList BuildFailingAfter(int allocations) {
        FailingAllocator::FailAfter(allocations);
        JvmOptionList list = BuildJvmOptionList(install_.moduleDirectory().c_str(), "alder.init", ClassicVm, VmHooks());
        FailingAllocator::Disarm();
        return list;
    }

    WorkingDirectoryGuard workingDirectory_;
    Installation install_;
};

TEST_F(AllocationTest, RunningOutAtAnyAllocationGivesNoListAndLosesNothing) {
    for (int i = 0; i < 40; ++i) install_.addJar("kernel-part-" + std::to_string(i) + ".jar");
    std::string initFile;
    for (int i = 0; i < 5; ++i) initFile += "-Doption" + std::to_string(i) + "=" + std::string(100, 'v') + "\n";
    install_.writeInitFile("alder.init", initFile);

    int allocations = 0;
    for (;; ++allocations) {
        JvmOptionList list = BuildFailingAfter(allocations);
        EXPECT_EQ(WorkingDirectory(), install_.bin().string()) << "failing allocation " << allocations;
        if (FailingAllocator::AllocationsLeft() > 0 || list.options != nullptr) {  // nothing failed: the whole list
            ASSERT_EQ(list.count, 8 + kVmHookOptionCount);
            EXPECT_EQ(std::string(list.options[2].optionString).substr(10), std::string(100, 'v'));
            Release(list);
            break;
        }
        EXPECT_EQ(list.count, 0);
        EXPECT_EQ(list.options, nullptr);
        ASSERT_LT(allocations, 1000);
    }
    // The boot class path grew at least once, so a failing reallocation was tried.
    EXPECT_GE(allocations, 8);
}

TEST_F(AllocationTest, BootClassPathOfThousandsOfJarsGrowsByDoubling) {
    for (int i = 0; i < 4000; ++i) install_.addJar("library-" + std::to_string(i) + ".jar");
    JvmOptionList list = BuildFailingAfter(1 << 30);
    ASSERT_NE(list.options, nullptr);
    size_t length = std::string(list.options[BootClassPathIndex(list)].optionString).size();
    EXPECT_GT(length, 4000u * 25);
    // Each growth doubles the text, so the reallocations are logarithmic in
    // its length and the bytes copied over all of them stay linear.
    EXPECT_LE(FailingAllocator::Reallocations(), 12);
    Release(list);
}

}  // namespace
