#include "ProductProfile.h"

extern const ProductProfile Profile = {
    "AlderSvc",
    "Halvern Alder Service",
    "Halvern ALDER Service Control\n",
    "com/halvern/alder/service/ServerKernel",
    "alder.init",
    false,
};
