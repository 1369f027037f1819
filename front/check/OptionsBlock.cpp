// The block on the options the start hands to the VM, built by its own code,
// with those the VM reads from the service's environment besides, and the
// ones among them that hand the process to others (OptionRisks.h).
#include "CheckBlocks.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "CheckWriter.h"
#include "JvmOptions.h"
#include "Kernel.h"
#include "OptionRisks.h"
#include "ProductProfile.h"

// ------------------------------------------------------------ the service's environment

// Java VMs read these too, the first before the options they are handed,
// the second after them.
static const char* const kVmVariables[] = {"JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS"};
enum { kVmVariableCount = sizeof kVmVariables / sizeof kVmVariables[0] };

static const char kSystemEnvironmentKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
static const char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services\\";

// A registry value in a new heap block, with two NULs after it (a list of
// texts ends in an empty one). Null, with status set, when there is none.
static char* ReadValue(const char* keyPath, const char* name, LSTATUS* status) {
    HKEY key;
    *status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key);
    if (*status != ERROR_SUCCESS) return nullptr;
    DWORD size = 0;
    char* value = nullptr;
    *status = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size);
    if (*status == ERROR_SUCCESS) value = static_cast<char*>(calloc(size + 2, 1));
    if (value != nullptr)
        *status = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (*status != ERROR_SUCCESS || value == nullptr) {
        free(value);
        return nullptr;
    }
    return value;
}

// The entry NAME=value of a service's Environment list, in a heap block
// of its own with room to split it; null when the list has none.
static char* ServiceVariable(const char* list, const char* name) {
    size_t nameLength = strlen(name);
    for (const char* entry = list; entry != nullptr && entry[0] != '\0'; entry += strlen(entry) + 1) {
        if (strlen(entry) <= nameLength || entry[nameLength] != '=') continue;
        char entryName[64];
        memcpy(entryName, entry, nameLength);
        entryName[nameLength] = '\0';
        if (lstrcmpiA(entryName, name) != 0) continue;
        const char* value = entry + nameLength + 1;
        char* copy = static_cast<char*>(calloc(strlen(value) + 2, 1));
        if (copy != nullptr) memcpy(copy, value, strlen(value));
        return copy;
    }
    return nullptr;
}

// Splits a variable's text in place into the options the VM takes from
// it, as the VM does: words apart by blanks, a quoted part kept whole and
// its quotes dropped. Each word ends in a NUL, the last in two: at most two
// bytes more than the text's length.
static void SplitIntoWords(char* text) {
    char* write = text;
    const char* read = text;
    while (*read != '\0') {
        while (*read == ' ' || *read == '\t' || *read == '\r' || *read == '\n') ++read;
        if (*read == '\0') break;
        char quote = 0;
        while (*read != '\0' && (quote != 0 || (*read != ' ' && *read != '\t' && *read != '\r' && *read != '\n'))) {
            if (quote == 0 && (*read == '"' || *read == '\'')) {
                quote = *read++;
            } else if (*read == quote) {
                quote = 0;
                ++read;
            } else {
                *write++ = *read++;
            }
        }
        if (*read != '\0') ++read;  // the blank after the word, which its NUL may overwrite
        *write++ = '\0';
    }
    *write = '\0';
}

static bool HasWords(const char* words) { return words != nullptr && words[0] != '\0'; }

static void SayWords(const char* words) {
    for (const char* word = words; word[0] != '\0'; word += strlen(word) + 1) {
        if (word != words) Say(" ");
        SayOption(word);
    }
}

struct VmVariable {
    char* system;   // words, or null
    char* service;  // words from the service's own Environment value, or null
};

static void SayUnreadable(const char* what, LSTATUS status) {
    BeginLine(NoticeLine);
    Say(what);
    Say(" could not be read, so the options the VM may take from it are not shown: ");
    SayWindowsError(static_cast<DWORD>(status), nullptr);
    EndLine();
}

static void ReadVmVariables(VmVariable* variables) {
    char serviceKey[256];
    snprintf(serviceKey, sizeof serviceKey, "%s%s", kServicesKey, Profile.serviceName);
    LSTATUS status;
    char* serviceList = ReadValue(serviceKey, "Environment", &status);
    if (serviceList == nullptr && status != ERROR_FILE_NOT_FOUND) SayUnreadable("the service's environment", status);
    bool systemUnreadable = false;
    for (int i = 0; i < kVmVariableCount; ++i) {
        variables[i].system = ReadValue(kSystemEnvironmentKey, kVmVariables[i], &status);
        if (variables[i].system == nullptr && status != ERROR_FILE_NOT_FOUND && !systemUnreadable) {
            SayUnreadable("the system environment", status);
            systemUnreadable = true;
        }
        variables[i].service = ServiceVariable(serviceList, kVmVariables[i]);
        if (variables[i].system != nullptr) SplitIntoWords(variables[i].system);
        if (variables[i].service != nullptr) SplitIntoWords(variables[i].service);
    }
    free(serviceList);
}

// The service's own value of a variable replaces the system's.
static const char* InEffect(const VmVariable& variable) {
    return variable.service != nullptr ? variable.service : variable.system;
}

static void SayVmVariables(const VmVariable* variables) {
    for (int i = 0; i < kVmVariableCount; ++i) {
        const VmVariable& variable = variables[i];
        if (HasWords(variable.system)) {
            BeginLine(NoticeLine);
            Say(kVmVariables[i]);
            Say(variable.service != nullptr
                    ? " is set in the system environment, but the service's own environment sets it anew: "
                    : " is set in the system environment, and the VM reads its options too: ");
            SayWords(variable.system);
            EndLine();
        }
        if (HasWords(variable.service)) {
            BeginLine(NoticeLine);
            Say(kVmVariables[i]);
            Say(" is set in the service's own environment, and the VM reads its options too: ");
            SayWords(variable.service);
            EndLine();
        }
    }
}

static void JudgeWords(const char* words, OptionJudging* judging) {
    for (const char* word = words; HasWords(word); word += strlen(word) + 1) JudgeOption(word, judging);
}

// ------------------------------------------------------------ the block

void CheckOptions(CheckContext* context) {
    const char* moduleDirectory = context->moduleDirectory;
    BeginBlock("The options the start hands to the VM", "");
    if (context->othersCanChangeVm && !context->libraryAnswered) {
        BeginLine(NoticeLine);
        Say("the VM library was not asked its generation (see the VM library); shown as for a classic VM");
        EndLine();
    } else if (!context->libraryAnswered) {
        BeginLine(NoticeLine);
        Say("the start ends before it hands them over (see the VM library); shown as for a classic VM");
        EndLine();
    }
    JvmOptionList list = BuildStartOptions(moduleDirectory, context->libraryAnswered ? context->generation : ClassicVm);
    if (list.options == nullptr) {
        BeginLine(ProblemLine);
        Say("no memory to build them");
        EndLine();
        NameProblem("no memory for the options");
        return;
    }
    for (jint i = 0; i < list.count; ++i) {
        BeginLine(InfoLine);
        SayOption(list.options[i].optionString);
        EndLine();
    }
    context->optionsBuilt = true;

    VmVariable variables[kVmVariableCount];
    ReadVmVariables(variables);
    SayVmVariables(variables);
    OptionJudging judging = {context, nullptr, nullptr};
    JudgeWords(InEffect(variables[0]), &judging);
    for (jint i = 0; i < list.count; ++i)
        if (list.options[i].optionString != nullptr) JudgeOption(list.options[i].optionString, &judging);
    JudgeWords(InEffect(variables[1]), &judging);
    EndJudging(judging);

    for (VmVariable& variable : variables) {
        free(variable.system);
        free(variable.service);
    }
    FreeJvmOptionList(&list);
}
