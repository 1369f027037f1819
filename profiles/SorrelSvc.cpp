#include "ProductProfile.h"

extern const ProductProfile Profile = {
    "SorrelSvc",
    "Halvern ROWAN Service",
    "Halvern ROWAN Service Control\n",
    "com/halvern/rowan/service/ServerKernel",
    "rowan.init",
    false,
};
