#include "ProductProfile.h"

extern const ProductProfile Profile = {
    "BirchSvc",
    "Halvern Birch Service",
    "Halvern BIRCH Service Control\n",
    "com/halvern/larch/service/ServerKernel",
    "birch.init",
    false,
};
