#ifndef PRODUCT_PROFILE_H
#define PRODUCT_PROFILE_H

// The constants that make one program of the family differ from another.
// Each program links exactly one definition of Profile (profiles/<Name>.cpp),
// chosen by its build target; nothing selects or changes it at run time.
struct ProductProfile {
    const char* serviceName;      // Service Control Manager and event-log source name
    const char* displayName;      // display name given at registration
    const char* bannerLine;       // first line of the usage text, ends in '\n'
    const char* kernelClassName;  // kernel class in FindClass form (slashes)
    const char* initFileName;     // bare name of the extra VM options file
    bool echoErrors;              // also print start failures on standard output
};

extern const ProductProfile Profile;

#endif
