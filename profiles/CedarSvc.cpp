#include "ProductProfile.h"

extern const ProductProfile Profile = {
    "CedarSvc",
    "Halvern Cedar Service",
    "Halvern Cedar Service Control\n",
    "com/halvern/cedar/service/ServerKernel",
    "cedar.init",
    true,
};
