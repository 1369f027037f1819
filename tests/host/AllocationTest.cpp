// Option assembly when memory runs out, and how its texts grow. Linked with
// the allocator wrapped (-Wl,--wrap=malloc,...), so a test can make the
// n-th allocation of the host's code fail and count reallocations.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "Installation.h"
#include "JvmOptions.h"

extern "C" void* __real_malloc(size_t size);
extern "C" void* __real_calloc(size_t count, size_t size);
extern "C" void* __real_realloc(void* block, size_t size);

namespace {

bool armed = false;
int allocationsLeft = 0;  // while armed: the allocation after this many fails
int reallocations = 0;

bool NextAllocationFails() {
    if (!armed) return false;
    if (allocationsLeft == 0) return true;
    --allocationsLeft;
    return false;
}

}  // namespace

extern "C" void* __wrap_malloc(size_t size) { return NextAllocationFails() ? nullptr : __real_malloc(size); }

extern "C" void* __wrap_calloc(size_t count, size_t size) {
    return NextAllocationFails() ? nullptr : __real_calloc(count, size);
}

extern "C" void* __wrap_realloc(void* block, size_t size) {
    if (armed) ++reallocations;
    return NextAllocationFails() ? nullptr : __real_realloc(block, size);
}

namespace {

void Release(const JvmOptionList& list) {
    for (jint i = 2; i < list.count - 1; ++i) free(list.options[i].optionString);
    free(list.bootClassPath);
    free(list.options);
}

class AllocationTest : public ::testing::Test {
  protected:
    void SetUp() override { startDirectory_ = WorkingDirectory(); }
    void TearDown() override {
        armed = false;
        EXPECT_EQ(0, chdir(startDirectory_.c_str()));
    }

    JvmOptionList BuildFailingAfter(int allocations) {
        allocationsLeft = allocations;
        reallocations = 0;
        armed = true;
        JvmOptionList list = BuildJvmOptionList(install_.moduleDirectory().c_str(), "alder.init");
        armed = false;
        return list;
    }

    Installation install_;
    std::string startDirectory_;
};

TEST_F(AllocationTest, RunningOutAtAnyAllocationGivesNoListAndLosesNothing) {
    for (int i = 0; i < 40; ++i) install_.addJar("kernel-part-" + std::to_string(i) + ".jar");
    std::string initFile;
    for (int i = 0; i < 5; ++i) initFile += "-Doption" + std::to_string(i) + "=" + std::string(100, 'v') + "\n";
    Installation::WriteFile(install_.bin() / "alder.init", initFile);

    int allocations = 0;
    for (;; ++allocations) {
        JvmOptionList list = BuildFailingAfter(allocations);
        EXPECT_EQ(install_.bin().string(), WorkingDirectory()) << "failing allocation " << allocations;
        if (allocationsLeft > 0 || list.options != nullptr) {  // nothing failed: the whole list
            ASSERT_EQ(8, list.count);
            EXPECT_EQ(std::string(100, 'v'), std::string(list.options[2].optionString).substr(10));
            Release(list);
            break;
        }
        EXPECT_EQ(0, list.count);
        EXPECT_EQ(nullptr, list.bootClassPath);
        ASSERT_LT(allocations, 1000);
    }
    // The boot class path grew at least once, so a failing reallocation was tried.
    EXPECT_GE(allocations, 8);
}

TEST_F(AllocationTest, BootClassPathOfThousandsOfJarsGrowsByDoubling) {
    for (int i = 0; i < 4000; ++i) install_.addJar("library-" + std::to_string(i) + ".jar");
    JvmOptionList list = BuildFailingAfter(1 << 30);
    ASSERT_NE(nullptr, list.options);
    size_t length = std::string(list.bootClassPath).size();
    EXPECT_GT(length, 4000u * 25);
    // Each growth doubles the text, so the reallocations are logarithmic in
    // its length and the bytes copied over all of them stay linear.
    EXPECT_LE(reallocations, 12);
    Release(list);
}

}  // namespace
