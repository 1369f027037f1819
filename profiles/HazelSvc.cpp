#include "ProductProfile.h"

extern const ProductProfile Profile = {
    "HazelSvc",
    "Halvern Hazel Service",
    "Halvern Hazel Service Control\n",
    "com/halvern/hazel/service/Kernel",
    "hazel.init",
    false,
};
