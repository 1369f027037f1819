#ifndef FRONT_CHECK_OPTIONRISKS_H
#define FRONT_CHECK_OPTIONRISKS_H

// The check's judgement of the options that hand the process to others.
// Each option is judged in the order the VM reads them; a problem or a
// notice is written for it at once, and what depends on the VM's last word
// on a property (JMX) at the end.
#include "CheckBlocks.h"

struct OptionJudging {
    const CheckContext* context;  // the VM's generation, where known
    const char* jmxAuthenticate;  // the last value of each, in an option judged
    const char* jmxPort;
};

void JudgeOption(const char* option, OptionJudging* judging);
void EndJudging(const OptionJudging& judging);

#endif
