// Each program carries exactly its own profile, byte for byte. This suite is
// built once per program, each build linking that program's definition and
// comparing it with that program's row of the program table.
#include <gtest/gtest.h>

#include "ProductProfile.h"
#include "ProgramTexts.h"

namespace {

TEST(ProductProfile, CarriesExactlyTheValuesOfItsProgram) {
    const ProgramRow& expected = ProgramUnderTest();
    EXPECT_STREQ(Profile.serviceName, expected.serviceName);
    EXPECT_STREQ(Profile.displayName, expected.displayName);
    EXPECT_STREQ(Profile.bannerLine, expected.bannerLine);
    EXPECT_STREQ(Profile.kernelClassName, expected.kernelClassName);
    EXPECT_STREQ(Profile.initFileName, expected.initFileName);
    EXPECT_EQ(Profile.echoErrors, expected.echoErrors);
}

}  // namespace
