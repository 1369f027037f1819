// Each program carries exactly its own profile, byte for byte. This suite is
// built once per program, each build linking that program's definition.
#include <gtest/gtest.h>

#include <string>

#include "ProductProfile.h"

namespace {

struct ExpectedProfile {
    const char* serviceName;
    const char* displayName;
    const char* bannerLine;
    const char* kernelClassName;
    const char* initFileName;
    bool echoErrors;
};

const ExpectedProfile kExpected[] = {
    {"AlderSvc", "Halvern Alder Service", "Halvern ALDER Service Control\n",
     "com/halvern/alder/service/ServerKernel", "alder.init", false},
    {"BirchSvc", "Halvern Birch Service", "Halvern BIRCH Service Control\n",
     "com/halvern/larch/service/ServerKernel", "birch.init", false},
    {"CedarSvc", "Halvern Cedar Service", "Halvern Cedar Service Control\n",
     "com/halvern/cedar/service/ServerKernel", "cedar.init", true},
    {"HazelSvc", "Halvern Hazel Service", "Halvern Hazel Service Control\n", "com/halvern/hazel/service/Kernel",
     "hazel.init", false},
    {"SorrelSvc", "Halvern ROWAN Service", "Halvern ROWAN Service Control\n",
     "com/halvern/rowan/service/ServerKernel", "rowan.init", false},
};

const ExpectedProfile& ExpectedFor(const std::string& program) {
    for (const ExpectedProfile& expected : kExpected)
        if (program == expected.serviceName) return expected;
    ADD_FAILURE() << "no expected profile for " << program;
    return kExpected[0];
}

TEST(ProductProfile, CarriesExactlyTheValuesOfItsProgram) {
    const ExpectedProfile& expected = ExpectedFor(PROGRAM_UNDER_TEST);
    EXPECT_STREQ(Profile.serviceName, expected.serviceName);
    EXPECT_STREQ(Profile.displayName, expected.displayName);
    EXPECT_STREQ(Profile.bannerLine, expected.bannerLine);
    EXPECT_STREQ(Profile.kernelClassName, expected.kernelClassName);
    EXPECT_STREQ(Profile.initFileName, expected.initFileName);
    EXPECT_EQ(Profile.echoErrors, expected.echoErrors);
}

}  // namespace
