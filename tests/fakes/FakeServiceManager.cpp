#include "FakeServiceManager.h"

#include <stdint.h>
#include <string.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

using namespace FakeServiceManager;

namespace {

// Handles are tagged numbers, never memory, so nothing is leaked by a
// program that does not close them.
const uintptr_t kManagerHandleBase = 0x1000;
const uintptr_t kServiceHandleBase = 0x2000;
const uintptr_t kStatusHandleBase = 0x3000;

std::mutex mutex;
std::condition_variable statusChanged;

std::map<Call, DWORD> refusals;
std::vector<DWORD> queuedControls;
std::function<std::string(const SERVICE_STATUS&)> statusObserver;

std::vector<DispatchTableRecord> dispatchTables;
std::vector<HandlerRegistration> handlerRegistrations;
std::vector<StatusReport> statusReports;
std::vector<ControlDelivery> controlDeliveries;
std::vector<OpenManagerCall> openManagerCalls;
std::vector<CreateServiceCall> createServiceCalls;
std::vector<OpenServiceCall> openServiceCalls;
int deleteServiceCalls = 0;

std::map<std::string, RegisteredService> database;
std::set<uintptr_t> openManagers;
std::map<uintptr_t, std::string> openServices;  // handle -> service name
std::map<uintptr_t, DWORD> openServiceRights;   // handle -> the access it was opened with
std::vector<DWORD> queryConfigCalls;
std::vector<ConfigChange> configChanges;
bool deliverUnaccepted = false;
uintptr_t handlesIssued = 0;
// The longest the dispatcher waits for a stop pending service to report stopped.
const std::chrono::seconds kStopReportTimeout(120);

// The service of the dispatcher run in progress.
struct ServiceRun {
    bool active = false;
    bool procedureEnded = false;
    uintptr_t statusHandle = 0;
    LPHANDLER_FUNCTION handler = nullptr;
    LPHANDLER_FUNCTION_EX handlerEx = nullptr;
    LPVOID handlerContext = nullptr;
    DWORD currentState = 0;  // nothing reported yet
    DWORD controlsAccepted = 0;
    std::thread::id thread;
};
ServiceRun run;
int runsStarted = 0;

TextArgument Text(LPCSTR text) { return text == nullptr ? TextArgument{true, ""} : TextArgument{false, text}; }

// True (with the error set) when the test told the call to fail.
bool Refused(Call call) {
    auto refusal = refusals.find(call);
    if (refusal == refusals.end()) return false;
    SetLastError(refusal->second);
    return true;
}

bool IsManager(SC_HANDLE handle) { return openManagers.count(reinterpret_cast<uintptr_t>(handle)) != 0; }

SC_HANDLE OpenServiceHandle(const std::string& name, DWORD rights) {
    uintptr_t handle = kServiceHandleBase + ++handlesIssued;
    openServices[handle] = name;
    openServiceRights[handle] = rights;
    return reinterpret_cast<SC_HANDLE>(handle);
}

// A deleted service leaves the database when nobody holds it any more.
void RemoveIfDeletedAndUnused(const std::string& name) {
    auto service = database.find(name);
    if (service == database.end() || !service->second.markedForDeletion) return;
    for (const auto& open : openServices) {
        if (open.second == name) return;
    }
    database.erase(service);
}

bool Accepts(DWORD controlsAccepted, DWORD control) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
            return (controlsAccepted & SERVICE_ACCEPT_STOP) != 0;
        case SERVICE_CONTROL_PAUSE:
        case SERVICE_CONTROL_CONTINUE:
            return (controlsAccepted & SERVICE_ACCEPT_PAUSE_CONTINUE) != 0;
        case SERVICE_CONTROL_SHUTDOWN:
            return (controlsAccepted & SERVICE_ACCEPT_SHUTDOWN) != 0;
        case SERVICE_CONTROL_PRESHUTDOWN:
            return (controlsAccepted & SERVICE_ACCEPT_PRESHUTDOWN) != 0;
        default:
            return true;  // interrogate and user-defined controls always go through
    }
}

bool LeftStartPending() { return run.currentState != 0 && run.currentState != SERVICE_START_PENDING; }

// Sends one queued control the way the manager would; called with the lock
// held, released around the handler call.
void DeliverControl(std::unique_lock<std::mutex>& lock, DWORD control) {
    ControlDelivery delivery{control, false, 0, std::this_thread::get_id()};
    bool hasHandler = run.handler != nullptr || run.handlerEx != nullptr;
    if (!hasHandler || run.currentState == 0 || run.currentState == SERVICE_STOPPED) {
        delivery.refusal = ERROR_SERVICE_NOT_ACTIVE;
    } else if ((!deliverUnaccepted && !Accepts(run.controlsAccepted, control)) ||
               (control == SERVICE_CONTROL_PRESHUTDOWN && run.handlerEx == nullptr)) {
        // Preshutdown reaches only an extended handler.
        delivery.refusal = ERROR_INVALID_SERVICE_CONTROL;
    } else {
        delivery.delivered = true;
        LPHANDLER_FUNCTION handler = run.handler;
        LPHANDLER_FUNCTION_EX handlerEx = run.handlerEx;
        LPVOID context = run.handlerContext;
        lock.unlock();
        if (handlerEx != nullptr) {
            delivery.handlerResult = handlerEx(control, 0, nullptr, context);
        } else {
            handler(control);
        }
        lock.lock();
    }
    controlDeliveries.push_back(delivery);
}

}  // namespace

namespace FakeServiceManager {

void Reset() {
    std::lock_guard<std::mutex> lock(mutex);
    refusals.clear();
    queuedControls.clear();
    statusObserver = nullptr;
    dispatchTables.clear();
    handlerRegistrations.clear();
    statusReports.clear();
    controlDeliveries.clear();
    openManagerCalls.clear();
    createServiceCalls.clear();
    openServiceCalls.clear();
    deleteServiceCalls = 0;
    queryConfigCalls.clear();
    configChanges.clear();
    deliverUnaccepted = false;
    openServiceRights.clear();
    database.clear();
    openManagers.clear();
    openServices.clear();
    run = ServiceRun();
}

void Refuse(Call call, DWORD error) {
    std::lock_guard<std::mutex> lock(mutex);
    refusals[call] = error;
}

void QueueControls(const std::vector<DWORD>& controls) {
    std::lock_guard<std::mutex> lock(mutex);
    queuedControls = controls;
}

void DeliverUnacceptedControls() {
    std::lock_guard<std::mutex> lock(mutex);
    deliverUnaccepted = true;
}

void OnStatusReport(std::function<std::string(const SERVICE_STATUS&)> observer) {
    std::lock_guard<std::mutex> lock(mutex);
    statusObserver = std::move(observer);
}

void AddService(const RegisteredService& service) {
    std::lock_guard<std::mutex> lock(mutex);
    database[service.name] = service;
}

std::vector<DispatchTableRecord> DispatchTables() {
    std::lock_guard<std::mutex> lock(mutex);
    return dispatchTables;
}

std::vector<HandlerRegistration> HandlerRegistrations() {
    std::lock_guard<std::mutex> lock(mutex);
    return handlerRegistrations;
}

std::vector<StatusReport> StatusReports() {
    std::lock_guard<std::mutex> lock(mutex);
    return statusReports;
}

std::vector<ControlDelivery> ControlDeliveries() {
    std::lock_guard<std::mutex> lock(mutex);
    return controlDeliveries;
}

std::vector<OpenManagerCall> OpenManagerCalls() {
    std::lock_guard<std::mutex> lock(mutex);
    return openManagerCalls;
}

std::vector<CreateServiceCall> CreateServiceCalls() {
    std::lock_guard<std::mutex> lock(mutex);
    return createServiceCalls;
}

std::vector<OpenServiceCall> OpenServiceCalls() {
    std::lock_guard<std::mutex> lock(mutex);
    return openServiceCalls;
}

std::vector<DWORD> QueryConfigCalls() {
    std::lock_guard<std::mutex> lock(mutex);
    return queryConfigCalls;
}

std::vector<ConfigChange> ConfigChanges() {
    std::lock_guard<std::mutex> lock(mutex);
    return configChanges;
}

int DeleteServiceCalls() {
    std::lock_guard<std::mutex> lock(mutex);
    return deleteServiceCalls;
}

std::vector<RegisteredService> Services() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<RegisteredService> services;
    for (const auto& entry : database) services.push_back(entry.second);
    return services;
}

int OpenServiceHandles() {
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<int>(openServices.size());
}

int OpenManagerHandles() {
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<int>(openManagers.size());
}

std::thread::id ServiceThread() {
    std::lock_guard<std::mutex> lock(mutex);
    return run.thread;
}

}  // namespace FakeServiceManager

extern "C" BOOL WINAPI StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* lpServiceStartTable) {
    std::unique_lock<std::mutex> lock(mutex);
    DispatchTableRecord table{{}, false};
    for (const SERVICE_TABLE_ENTRYA* entry = lpServiceStartTable; entry != nullptr; ++entry) {
        if (entry->lpServiceName == nullptr && entry->lpServiceProc == nullptr) {
            table.terminated = true;
            break;
        }
        table.serviceNames.emplace_back(entry->lpServiceName != nullptr ? entry->lpServiceName : "");
    }
    dispatchTables.push_back(table);
    if (Refused(Call::Dispatcher)) return FALSE;
    if (table.serviceNames.empty() || lpServiceStartTable[0].lpServiceProc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }

    run = ServiceRun();
    run.active = true;
    run.statusHandle = kStatusHandleBase + static_cast<uintptr_t>(++runsStarted);
    std::string serviceName = table.serviceNames[0];
    LPSERVICE_MAIN_FUNCTIONA serviceProc = lpServiceStartTable[0].lpServiceProc;
    std::thread serviceThread([serviceName, serviceProc] {
        std::string argument = serviceName;
        LPSTR argv[] = {&argument[0], nullptr};
        serviceProc(1, argv);
        std::lock_guard<std::mutex> procedureLock(mutex);
        run.procedureEnded = true;
        statusChanged.notify_all();
    });
    run.thread = serviceThread.get_id();

    // No control reaches a service that is still starting.
    statusChanged.wait(lock, [] { return LeftStartPending() || run.procedureEnded; });
    std::vector<DWORD> controls = queuedControls;
    for (DWORD control : controls) DeliverControl(lock, control);
    lock.unlock();
    serviceThread.join();
    lock.lock();
    // A stop that outlasts its control ends with a report from another thread.
    statusChanged.wait_for(lock, kStopReportTimeout, [] { return run.currentState != SERVICE_STOP_PENDING; });
    run.active = false;
    SetLastError(NO_ERROR);
    return TRUE;
}

// Both registration calls: exactly one of handler and handlerEx is given.
static SERVICE_STATUS_HANDLE RegisterHandler(LPCSTR serviceName, LPHANDLER_FUNCTION handler,
                                             LPHANDLER_FUNCTION_EX handlerEx, LPVOID context) {
    std::lock_guard<std::mutex> lock(mutex);
    handlerRegistrations.push_back({serviceName != nullptr ? serviceName : "", std::this_thread::get_id()});
    if (Refused(Call::RegisterHandler)) return nullptr;
    if (!run.active || (handler == nullptr && handlerEx == nullptr)) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    run.handler = handler;
    run.handlerEx = handlerEx;
    run.handlerContext = context;
    return reinterpret_cast<SERVICE_STATUS_HANDLE>(run.statusHandle);
}

extern "C" SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerA(LPCSTR lpServiceName,
                                                                    LPHANDLER_FUNCTION lpHandlerProc) {
    return RegisterHandler(lpServiceName, lpHandlerProc, nullptr, nullptr);
}

extern "C" SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerExA(LPCSTR lpServiceName,
                                                                      LPHANDLER_FUNCTION_EX lpHandlerProc,
                                                                      LPVOID lpContext) {
    return RegisterHandler(lpServiceName, nullptr, lpHandlerProc, lpContext);
}

extern "C" BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus, LPSERVICE_STATUS lpServiceStatus) {
    SERVICE_STATUS status = *lpServiceStatus;
    std::function<std::string(const SERVICE_STATUS&)> observer;
    {
        std::lock_guard<std::mutex> lock(mutex);
        observer = statusObserver;
    }
    std::string observation = observer ? observer(status) : std::string();

    std::lock_guard<std::mutex> lock(mutex);
    bool validHandle = run.active && reinterpret_cast<uintptr_t>(hServiceStatus) == run.statusHandle;
    statusReports.push_back({validHandle, status, std::this_thread::get_id(), observation});
    if (Refused(Call::SetStatus)) return FALSE;
    if (!validHandle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    run.currentState = status.dwCurrentState;
    run.controlsAccepted = status.dwControlsAccepted;
    statusChanged.notify_all();
    return TRUE;
}

extern "C" SC_HANDLE WINAPI OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD dwDesiredAccess) {
    std::lock_guard<std::mutex> lock(mutex);
    openManagerCalls.push_back({Text(lpMachineName), Text(lpDatabaseName), dwDesiredAccess});
    if (Refused(Call::OpenManager)) return nullptr;
    uintptr_t handle = kManagerHandleBase + ++handlesIssued;
    openManagers.insert(handle);
    return reinterpret_cast<SC_HANDLE>(handle);
}

extern "C" SC_HANDLE WINAPI CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPCSTR lpDisplayName,
                                           DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType,
                                           DWORD dwErrorControl, LPCSTR lpBinaryPathName, LPCSTR lpLoadOrderGroup,
                                           LPDWORD lpdwTagId, LPCSTR lpDependencies, LPCSTR lpServiceStartName,
                                           LPCSTR lpPassword) {
    std::lock_guard<std::mutex> lock(mutex);
    createServiceCalls.push_back({IsManager(hSCManager), Text(lpServiceName), Text(lpDisplayName), dwDesiredAccess,
                                  dwServiceType, dwStartType, dwErrorControl, Text(lpBinaryPathName),
                                  Text(lpLoadOrderGroup), lpdwTagId != nullptr, Text(lpDependencies),
                                  Text(lpServiceStartName), Text(lpPassword)});
    if (Refused(Call::CreateService)) return nullptr;
    if (!IsManager(hSCManager)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (lpServiceName == nullptr || lpBinaryPathName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto existing = database.find(lpServiceName);
    if (existing != database.end()) {
        SetLastError(existing->second.markedForDeletion ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS);
        return nullptr;
    }
    database[lpServiceName] = {lpServiceName,    lpDisplayName != nullptr ? lpDisplayName : lpServiceName,
                               lpBinaryPathName, dwServiceType,
                               dwStartType,      false};
    if (lpServiceStartName != nullptr) database[lpServiceName].account = lpServiceStartName;
    return OpenServiceHandle(lpServiceName, dwDesiredAccess);
}

extern "C" SC_HANDLE WINAPI OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess) {
    std::lock_guard<std::mutex> lock(mutex);
    openServiceCalls.push_back({IsManager(hSCManager), Text(lpServiceName), dwDesiredAccess});
    if (Refused(Call::OpenService)) return nullptr;
    if (!IsManager(hSCManager)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (lpServiceName == nullptr || database.count(lpServiceName) == 0) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    return OpenServiceHandle(lpServiceName, dwDesiredAccess);
}

// The service an open handle names, when it was opened with `right`;
// null, with the error Windows gives, otherwise. Under the lock.
static RegisteredService* ServiceOpenedWith(SC_HANDLE handle, DWORD right) {
    auto open = openServices.find(reinterpret_cast<uintptr_t>(handle));
    if (open == openServices.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if ((openServiceRights[open->first] & right) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return &database[open->second];
}

// Packs the configuration as Windows does: the record, then its texts
// behind it in the caller's buffer; asks for more room when it does not fit.
extern "C" BOOL WINAPI QueryServiceConfigA(SC_HANDLE hService, LPQUERY_SERVICE_CONFIGA lpServiceConfig, DWORD cbBufSize,
                                           LPDWORD pcbBytesNeeded) {
    std::lock_guard<std::mutex> lock(mutex);
    auto open = openServices.find(reinterpret_cast<uintptr_t>(hService));
    queryConfigCalls.push_back(open == openServices.end() ? 0 : openServiceRights[open->first]);
    if (Refused(Call::QueryConfig)) return FALSE;
    const RegisteredService* opened = ServiceOpenedWith(hService, SERVICE_QUERY_CONFIG);
    if (opened == nullptr) return FALSE;
    const RegisteredService& service = *opened;
    const std::string* texts[] = {&service.binaryPathName, &service.account, &service.displayName};
    DWORD needed = sizeof(QUERY_SERVICE_CONFIGA) + 2;  // the empty group and the empty dependency list
    for (const std::string* text : texts) needed += static_cast<DWORD>(text->size() + 1);
    if (pcbBytesNeeded != nullptr) *pcbBytesNeeded = needed;
    if (lpServiceConfig == nullptr || cbBufSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    char* at = reinterpret_cast<char*>(lpServiceConfig + 1);
    auto place = [&at](const std::string& text) {
        memcpy(at, text.c_str(), text.size() + 1);
        char* placed = at;
        at += text.size() + 1;
        return placed;
    };
    lpServiceConfig->dwServiceType = service.serviceType;
    lpServiceConfig->dwStartType = service.startType;
    lpServiceConfig->dwErrorControl = SERVICE_ERROR_NORMAL;
    lpServiceConfig->lpBinaryPathName = place(service.binaryPathName);
    lpServiceConfig->lpLoadOrderGroup = place("");
    lpServiceConfig->dwTagId = 0;
    lpServiceConfig->lpDependencies = place("");
    lpServiceConfig->lpServiceStartName = place(service.account);
    lpServiceConfig->lpDisplayName = place(service.displayName);
    return TRUE;
}

extern "C" BOOL WINAPI QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
    std::lock_guard<std::mutex> lock(mutex);
    if (Refused(Call::QueryStatus)) return FALSE;
    auto open = openServices.find(reinterpret_cast<uintptr_t>(hService));
    if (open == openServices.end() || lpServiceStatus == nullptr) {
        SetLastError(open == openServices.end() ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if ((openServiceRights[open->first] & SERVICE_QUERY_STATUS) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const RegisteredService& service = database[open->second];
    memset(lpServiceStatus, 0, sizeof *lpServiceStatus);
    lpServiceStatus->dwServiceType = service.serviceType;
    lpServiceStatus->dwCurrentState = service.currentState;
    return TRUE;
}

extern "C" BOOL WINAPI DeleteService(SC_HANDLE hService) {
    std::lock_guard<std::mutex> lock(mutex);
    ++deleteServiceCalls;
    if (Refused(Call::DeleteService)) return FALSE;
    auto open = openServices.find(reinterpret_cast<uintptr_t>(hService));
    if (open == openServices.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    RegisteredService& service = database[open->second];
    if (service.markedForDeletion) {
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
        return FALSE;
    }
    service.markedForDeletion = true;
    return TRUE;
}

extern "C" BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject) {
    std::lock_guard<std::mutex> lock(mutex);
    uintptr_t handle = reinterpret_cast<uintptr_t>(hSCObject);
    if (openManagers.erase(handle) != 0) return TRUE;
    auto open = openServices.find(handle);
    if (open == openServices.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::string name = open->second;
    openServiceRights.erase(open->first);
    openServices.erase(open);
    RemoveIfDeletedAndUnused(name);
    return TRUE;
}

// The preshutdown time-out and the SID type, on a handle with the right to
// change the configuration.
extern "C" BOOL WINAPI ChangeServiceConfig2A(SC_HANDLE hService, DWORD dwInfoLevel, LPVOID lpInfo) {
    std::lock_guard<std::mutex> lock(mutex);
    auto open = openServices.find(reinterpret_cast<uintptr_t>(hService));
    DWORD rights = open == openServices.end() ? 0 : openServiceRights[open->first];
    DWORD value = lpInfo == nullptr ? 0 : *static_cast<const DWORD*>(lpInfo);  // both records hold one DWORD
    configChanges.push_back({rights, dwInfoLevel, value});
    bool preshutdown = dwInfoLevel == SERVICE_CONFIG_PRESHUTDOWN_INFO;
    bool sid = dwInfoLevel == SERVICE_CONFIG_SERVICE_SID_INFO;
    if ((preshutdown && Refused(Call::ChangePreshutdownInfo)) || (sid && Refused(Call::ChangeSidInfo))) return FALSE;
    if (open == openServices.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if ((rights & SERVICE_CHANGE_CONFIG) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if ((!preshutdown && !sid) || lpInfo == nullptr || (sid && value > SERVICE_SID_TYPE_UNRESTRICTED)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    RegisteredService& service = database[open->second];
    (preshutdown ? service.preshutdownTimeout : service.sidType) = value;
    return TRUE;
}

// The preshutdown time-out only, as Windows fills it.
extern "C" BOOL WINAPI QueryServiceConfig2A(SC_HANDLE hService, DWORD dwInfoLevel, LPBYTE lpBuffer, DWORD cbBufSize,
                                            LPDWORD pcbBytesNeeded) {
    std::lock_guard<std::mutex> lock(mutex);
    if (Refused(Call::QueryConfig2)) return FALSE;
    const RegisteredService* service = ServiceOpenedWith(hService, SERVICE_QUERY_CONFIG);
    if (service == nullptr) return FALSE;
    if (dwInfoLevel != SERVICE_CONFIG_PRESHUTDOWN_INFO) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (pcbBytesNeeded != nullptr) *pcbBytesNeeded = sizeof(SERVICE_PRESHUTDOWN_INFO);
    if (lpBuffer == nullptr || cbBufSize < sizeof(SERVICE_PRESHUTDOWN_INFO)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    SERVICE_PRESHUTDOWN_INFO info = {service->preshutdownTimeout};
    memcpy(lpBuffer, &info, sizeof info);
    return TRUE;
}
